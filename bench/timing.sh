# Sourced by the bench/compare_*.sh scripts once they have set $work.
#
# Wall and CPU (user + system) seconds of a command, the better of two runs
# each: "wall cpu". CPU time is the steadier figure on a shared machine.
times_of() {
  local best_wall="" best_cpu=""
  for _ in 1 2; do
    local start end ms cpu
    start=$(date +%s%N)
    if [ -x /usr/bin/time ]; then
      /usr/bin/time -f "%U %S" -o "$work/time" "$@" >/dev/null 2>&1
      cpu=$(awk '{ printf "%d", ($1 + $2) * 1000 }' "$work/time")
    else
      "$@" >/dev/null 2>&1
      cpu=0
    fi
    end=$(date +%s%N)
    ms=$(( (end - start) / 1000000 ))
    if [ -z "$best_wall" ] || [ "$ms" -lt "$best_wall" ]; then best_wall=$ms; fi
    if [ -z "$best_cpu" ] || [ "$cpu" -lt "$best_cpu" ]; then best_cpu=$cpu; fi
  done
  awk -v w="$best_wall" -v c="$best_cpu" 'BEGIN { printf "%.3f %.3f", w / 1000, c / 1000 }'
}
size() { stat -c %s "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else printf "-" }'; }
