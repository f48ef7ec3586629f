# Sourced by .ci/run: runs CI's stages one after another and keeps what each
# came to (passed, failed, or skipped with the reason), for the summary at the
# end. A stage that fails ends CI at once. A stage ends "skipped" only when it
# exits with status 75 and has written its reason to the file named by
# DBX_CI_SKIP_REASON (scripts/apt.sh does, when a foreign architecture's
# packages cannot be had from the registry); a stage whose needed stage did
# not pass is skipped with that stage's reason.

declare -a stage_order=()
declare -A stage_result=() stage_why=() stage_seconds=()

# stage NAME [--needs STAGE]... -- COMMAND [ARG...]
stage() {
  local name=$1 need status reason start
  shift
  local needs=()
  while [ "${1:-}" = --needs ]; do needs+=("$2"); shift 2; done
  [ "${1:-}" != -- ] || shift
  stage_order+=("$name")
  for need in "${needs[@]}"; do
    if [ "${stage_result[$need]:-}" != passed ]; then
      stage_result[$name]=skipped
      stage_why[$name]="needs $need, which was ${stage_result[$need]:-not run}${stage_why[$need]:+ (${stage_why[$need]})}"
      stage_seconds[$name]=0
      echo "SKIPPED $name: ${stage_why[$name]}"
      return 0
    fi
  done
  echo "== $name"
  reason=$(mktemp)
  start=$SECONDS
  set +e
  DBX_CI_SKIP_REASON=$reason "$@"
  status=$?
  set -e
  stage_seconds[$name]=$((SECONDS - start))
  if [ "$status" = 0 ]; then
    stage_result[$name]=passed
  elif [ "$status" = 75 ] && [ -s "$reason" ]; then
    stage_result[$name]=skipped
    stage_why[$name]=$(head -1 "$reason")
    echo "SKIPPED $name: ${stage_why[$name]}"
  else
    stage_result[$name]=failed
    stage_why[$name]="exit status $status"
  fi
  rm -f "$reason"
  if [ "${stage_result[$name]}" = failed ]; then
    echo "FAILED $name (exit status $status): CI stops here"
    exit 1
  fi
}

# The table of every stage so far: what it came to, how long it took, why.
stage_summary() {
  local name
  [ ${#stage_order[@]} -gt 0 ] || return 0
  echo "== CI summary"
  for name in "${stage_order[@]}"; do
    printf '%-14s %-8s %5ss%s\n' "$name" "${stage_result[$name]:-running}" "${stage_seconds[$name]:-?}" \
      "${stage_why[$name]:+  ${stage_why[$name]}}"
  done
}
