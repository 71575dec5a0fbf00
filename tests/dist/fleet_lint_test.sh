#!/bin/bash
# ansible-lint on the playbook and its role, with its strictest profile and
# without the network, Ansible's own syntax check, the playbook run without
# a part (it must refuse, saying how to choose one; fleet_test.sh tries
# the same with Debian 13's Ansible), the role's variables as ansible-doc
# shows them, and the role's module:
# its documentation as ansible-doc reads it, and its work on journal entries
# made up (leapcheck_info_test.py, with Ansible's Python).
#   fleet_lint_test.sh SOURCE_DIR
set -u
src=$1
source "$(dirname "$0")/../lib/lib.sh"
for tool in ansible-lint ansible-playbook; do
  command -v "$tool" > /dev/null ||
    { fail "no $tool ('scripts/install-deps' installs ansible and ansible-lint)"; exit 1; }
done
# Their caches in the scratch folder.
export ANSIBLE_HOME=$work/ansible-home ANSIBLE_LOCAL_TEMP=$work/ansible-tmp XDG_CACHE_HOME=$work/cache
export NO_COLOR=1
cd "$src" || exit 1
ansible-playbook --syntax-check -i localhost, ansible/leapcheck.yml > "$work/syntax" 2>&1 ||
  { fail "ansible-playbook --syntax-check"; cat "$work/syntax"; }
ansible-lint --offline --profile production ansible/ > "$work/lint" 2>&1 ||
  { fail "ansible-lint"; cat "$work/lint"; }
ansible-playbook -i localhost, -c local ansible/leapcheck.yml > "$work/none" 2>&1
status=$?
[ "$status" -eq 2 ] && grep -q 'Choose what to do with --tags' "$work/none" ||
  { fail "without --tags: exit status $status"; cat "$work/none"; }
ansible-doc -M ansible/roles/leapcheck/library leapcheck_info > "$work/doc" 2>&1 ||
  { fail "ansible-doc leapcheck_info"; cat "$work/doc"; }
ansible-doc -t role -r ansible/roles leapcheck > "$work/role" 2>&1 &&
  grep -q 'leapcheck_clock_seconds' "$work/role" ||
  { fail "ansible-doc -t role leapcheck"; cat "$work/role"; }
python=$(sed -n '1s/^#! *//p' "$(command -v ansible-playbook)")
# -B: no bytecode beside the module, which the release would pack.
$python -B "$src/tests/dist/leapcheck_info_test.py" "$src" > "$work/module" 2>&1 ||
  { fail "leapcheck_info_test.py"; cat "$work/module"; }
[ "$failures" -eq 0 ] && echo "fleet_lint: all checks passed"
exit "$failures"
