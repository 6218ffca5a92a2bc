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
