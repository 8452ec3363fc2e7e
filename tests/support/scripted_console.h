// A console for tests: keys come from a script, and running out of keys
// throws, so a screen loop that waits for more than the test gave fails at
// once instead of hanging.
#pragma once

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "screen/console.h"
#include "screen/keys.h"

namespace tv::test {

struct OutOfKeys : std::runtime_error {
  OutOfKeys() : std::runtime_error("the screen waited for a key the test did not give") {}
};

// Key presses by name, for scripts: Keys{Right, Down, 'y', Enter}.
inline constexpr KeyPress Ext(int scan) { return KeyPress{true, static_cast<uint8_t>(scan)}; }
inline constexpr KeyPress Chr(int c) { return KeyPress{false, static_cast<uint8_t>(c)}; }
inline constexpr KeyPress Up = Ext(key::Up), Down = Ext(key::Down), Left = Ext(key::Left),
                          Right = Ext(key::Right), PgUp = Ext(key::PgUp), PgDn = Ext(key::PgDn),
                          Del = Ext(key::Delete), F10 = Ext(key::F10), F1 = Ext(key::F1),
                          Ins = Ext(key::Insert), Home = Ext(key::Home), End = Ext(key::End);
inline constexpr KeyPress Enter = Chr(key::Enter), Esc = Chr(key::Esc), Tab = Chr(key::Tab),
                          Backspace = Chr(key::Backspace);

class ScriptedConsole : public Console {
 public:
  ScriptedConsole() = default;
  explicit ScriptedConsole(std::vector<KeyPress> keys) { Add(std::move(keys)); }

  void Add(std::vector<KeyPress> keys) { keys_.insert(keys_.end(), keys.begin(), keys.end()); }
  // Plain characters, one key each (cp866 bytes).
  void Type(const std::string& text) {
    for (char c : text) keys_.push_back(Chr(static_cast<unsigned char>(c)));
  }
  std::size_t KeysLeft() const { return keys_.size(); }
  // Keys pressed while the tool is busy with the device: seen by PollKey,
  // dropped by DiscardTypeahead, and otherwise read before the script's.
  void TypeAhead(std::vector<KeyPress> keys) {
    typeahead_.insert(typeahead_.end(), keys.begin(), keys.end());
  }
  std::size_t TypeaheadLeft() const { return typeahead_.size(); }

  // Esc pressed while the tool is busy, once this first says so (asked at
  // every look for a key, e.g. between two cells).
  std::function<bool()> escWhen;

  bool PollKey(const Screen&, KeyPress& pressed) override {
    if (escWhen && escWhen()) {
      escWhen = nullptr;
      pressed = Esc;
      return true;
    }
    if (typeahead_.empty()) return false;
    pressed = typeahead_.front();
    typeahead_.pop_front();
    return true;
  }
  void DiscardTypeahead() override { typeahead_.clear(); }

  void Present(const Screen&) override { ++presents; }
  void SetBlockCursor(bool block) override { blockCursor = block; }
  // Keys typed ahead come first, as from a terminal's input queue.
  KeyPress NextKey(const Screen&) override {
    if (!typeahead_.empty()) {
      KeyPress k = typeahead_.front();
      typeahead_.pop_front();
      ++keysRead;
      return k;
    }
    if (keys_.empty()) throw OutOfKeys();
    KeyPress k = keys_.front();
    keys_.pop_front();
    ++keysRead;
    return k;
  }
  void RunCommand(const char* commandLine, const Screen&) override { commands.emplace_back(commandLine); }

  int presents = 0;
  int keysRead = 0;
  bool blockCursor = false;
  std::vector<std::string> commands;

 private:
  std::deque<KeyPress> keys_;
  std::deque<KeyPress> typeahead_;
};

}  // namespace tv::test
