# The one check of the release scripts, sourced by them: runs COMMAND, prints a line saying whether
# DESCRIPTION holds, and on a failure the command's last output, and sets failed=1. The sourcing
# script sets $work (a scratch folder) and may set $check_label (the start of each line).
failed=0
check() {  # DESCRIPTION COMMAND...: passes when the command succeeds
  local description=$1
  shift
  if "$@" >"$work/check.log" 2>&1; then
    echo "${check_label:+$check_label: }ok   $description"
  else
    echo "${check_label:+$check_label: }FAIL $description"
    sed 's/^/       /' "$work/check.log" | tail -n 40
    failed=1
  fi
}
