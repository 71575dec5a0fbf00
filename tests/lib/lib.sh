# shellcheck shell=bash source-path=SCRIPTDIR
# The shell tests' library: every test script sources this file, which
# sources the parts beside it, one job each.
lib_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$lib_dir/report.sh"          # fail, skip
source "$lib_dir/cleanup.sh"         # $work, on_exit
source "$lib_dir/leap_output.sh"     # the program's lines, provoked reports
source "$lib_dir/dropped.sh"         # a root run after it gave root up
source "$lib_dir/same_output.sh"     # a program as installed against the build's
source "$lib_dir/manifest.sh"        # the files an install holds
source "$lib_dir/manual_page.sh"     # the page as man shows it
source "$lib_dir/root.sh"            # a command in another system's root
source "$lib_dir/recorded_board.sh"  # a recorded PCI board as a sysfs tree
