// The two reaches of a network port made without the library: the host's
// name looked up within a bound, into the library's target form
//     gw-site7.example  ->  "ipv4,192.0.2.7,4001,ipv6,2001:db8::7,4001"
// and a plain TCP connection that only listens to what a server says before
// it closes ("Port already in use").
#pragma once

#include <chrono>
#include <string>

namespace tv {

// The addresses of host in the library's form, "" when the name is not
// known or the lookup did not end by the deadline (a lookup may wait on a
// name server for much longer; it is left to finish on its own).
std::string Resolve(const std::string& host, const std::string& port,
                    std::chrono::steady_clock::time_point deadline, bool& timedOut);

// What the server at the first of the targets ("ipv4,192.0.2.7,4001,...")
// sends on a plain TCP connection until it closes it, or until the deadline.
std::string FirstWordsOf(const std::string& targets, std::chrono::steady_clock::time_point deadline);

}  // namespace tv
