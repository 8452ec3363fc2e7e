#!/usr/bin/env bash
# The collection as an operator first meets it: ansible-doc renders the
# module's documentation (every option, the examples, the return values),
# and each example playbook passes ansible-playbook's syntax check with the
# example inventory (the module found by its collection's name).
#
#   tests/fleet/ansible_doc_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$(cd "${1:?usage: ansible_doc_test.sh SOURCE_DIR}" && pwd)
export ANSIBLE_COLLECTIONS_PATH=$source_dir/contrib/ansible LC_ALL=C.UTF-8 ANSIBLE_NOCOLOR=1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export ANSIBLE_LOCAL_TEMP=$scratch/tmp ANSIBLE_CONFIG=$scratch/ansible.cfg
touch "$ANSIBLE_CONFIG"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

doc=$(ansible-doc tarvelin.gateway.sim_config 2>&1) || fail "ansible-doc: $doc"
for option in "= port" "- gateway" "- src" "- state" "- settings" "- dest" "- tarvelin" "- chdir"; do
  grep -qx -- "$option" <<<"$doc" || fail "ansible-doc shows no option '$option':"$'\n'"$doc"
done
for part in "EXAMPLES:" "RETURN VALUES:" "tarvelin.gateway.sim_config:"; do
  grep -q -- "$part" <<<"$doc" || fail "ansible-doc shows no '$part'"
done
json=$(ansible-doc --json tarvelin.gateway.sim_config) || fail "ansible-doc --json"
python3 -c '
import json, sys
d = json.loads(sys.stdin.read())["tarvelin.gateway.sim_config"]
assert d["doc"]["attributes"]["check_mode"]["support"] == "full", "check mode"
assert d["doc"]["attributes"]["diff_mode"]["support"] == "full", "diff mode"
assert set(d["return"]) >= {"rc", "summary", "differences", "changes", "dest"}, sorted(d["return"])
' <<<"$json" || fail "ansible-doc --json: the attributes or return values"

for playbook in "$source_dir"/contrib/ansible/examples/*.yml; do
  [ "$(basename "$playbook")" = inventory.yml ] && continue
  out=$(ansible-playbook --syntax-check -i "$source_dir/contrib/ansible/examples/inventory.yml" "$playbook" 2>&1) ||
    fail "syntax check of $(basename "$playbook"):"$'\n'"$out"
done
echo "ok: ansible-doc renders the module; the example playbooks pass the syntax check"
