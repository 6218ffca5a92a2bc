# Sourced by the effect and logo benches: each command's rounds are timed
# into "$work/NAME.t" (one "wall cpu" line a round), then reduced to their
# medians in "$work/NAME.m", wall and CPU each on its own.

# timed NAME COMMAND...: one round of COMMAND, its output thrown away.
timed() {
  local name=$1
  shift
  /usr/bin/time -f "%e %U %S" -o "$work/t" "$@" >/dev/null 2>&1
  awk '{ print $1, $2 + $3 }' "$work/t" >>"$work/$name.t"
}

# The medians of every command timed: "wall cpu".
medians() {
  local t
  for t in "$work"/*.t; do
    paste <(cut -d' ' -f1 "$t" | sort -g) <(cut -d' ' -f2 "$t" | sort -g) |
      awk '{ w[NR] = $1; c[NR] = $2 } END { m = int((NR + 1) / 2); print w[m], c[m] }' >"${t%.t}.m"
  done
}

# ratio A B TEXT: how many times faster A is than B, by wall and by CPU.
ratio() { paste "$work/$1.m" "$work/$2.m" | awk -v what="$3" '{ printf "%s: %.2f (wall), %.2f (CPU)\n", what, $3 / $1, $4 / $2 }'; }

# report NAME OURS STEPS DECODE STEPS_RATIO: the table's rows under the
# caller's header, through the caller's own `row` (each bench shows its
# columns), then the rounds, the load and the ratios: ours, the baseline
# (when "$base" is set), the tool steps (when timed) and the decode alone.
report() {
  local name=$1
  row ours "$2"
  [ -z "$base" ] || row base "baseline build, $name"
  [ ! -f "$work/steps.m" ] || row steps "$3"
  row decode "$4"
  echo
  echo "$rounds rounds, medians; load average before and after: $load0 / $(cut -d' ' -f1-3 /proc/loadavg)"
  [ ! -f "$work/steps.m" ] || ratio ours steps "$5"
  ratio ours decode "$name against decoding alone"
  [ -z "$base" ] || ratio base decode "baseline $name against decoding alone"
}
