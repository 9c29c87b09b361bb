# Sourced by the lab benchmarks: a scratch folder in $work and the lab under
# way in $current_lab, both removed however the script ends. Needs $lab.

# $1: the scratch folder's name.
start_lab_work() {
  work=$(mktemp -d "/tmp/$1.XXXXXX")
  current_lab=""
  trap end_lab_work EXIT
  trap 'exit 130' INT TERM
}

end_lab_work() {
  [[ -z $current_lab ]] || "$lab" down "$current_lab" >/dev/null 2>&1 || true
  rm -rf "$work"
}
