#!/usr/bin/env bash
# Drives fuzz_moprax.php: many short php processes (a fatal error of the module ends one),
# seeds base, base+1, ...; three in four run in hostile mode. Only a crash (a signal, an exit
# status other than 0 and the engine's 255), a hang or a sanitizer report is a failure; its
# output is kept under the work folder and the command that replays it is printed.
#
# usage: fuzz/moprax/run.sh [--asan] [--seed N] [--procs N] [--seconds N] [--calls N]
#                           [--jobs N] [--work DIR] <MopraX.so>
#   --work     folder for outputs and the learnt argument types (kept across runs in it);
#              default a fresh temporary one, removed after a run without failures
#   --asan     the extension is an AddressSanitizer build: preload the runtime (after the
#              shim that drops RTLD_DEEPBIND), engine allocator off, as tests/moprax/run_asan.sh
#   --procs    stop after this many processes (default: unlimited)
#   --seconds  stop starting processes after this many seconds (default 60)
#   --calls    calls per process (default 400)
#   --jobs     processes at once (default 1; with 1 a run is reproducible from its seed)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
asan=0 seed=1 procs=0 seconds=60 calls=400 jobs=1 work=""
while [ $# -gt 1 ]; do
  case "$1" in
    --asan) asan=1; shift ;;
    --seed) seed=$2; shift 2 ;;
    --procs) procs=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --calls) calls=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# -eq 1 ] || { sed -n '7,17p' "$0" >&2; exit 2; }
ext=$(realpath "$1")
php=${PHP:-php}
made_work=0
[ -n "$work" ] || { work=$(mktemp -d /tmp/moprax-fuzz.XXXXXX); made_work=1; }
mkdir -p "$work"
types="$work/types"
touch "$types"  # kept across runs in the same work folder

envs=(USE_ZEND_ALLOC=0)
if [ "$asan" = 1 ]; then
  shim="$work/moprax-nodeepbind.so"
  cc -shared -fPIC -O2 -o "$shim" "$root/tests/moprax/nodeepbind.c" -ldl
  # Leaks are checked, but only reported for processes that ended without a fatal error
  # (the engine leaks its own memory when a fatal error ends the request; the leak check's
  # exit status is then not a failure either).
  envs+=("LD_PRELOAD=$shim:$(gcc -print-file-name=libasan.so)"
         "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1:abort_on_error=0:halt_on_error=1:allocator_may_return_null=1"
         "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
fi
cmd_of() {
  local hostile=$(( $1 % 4 != 0 ? 1 : 0 ))
  echo "env ${envs[*]} $php -n -d extension=$ext -d display_errors=1 -d error_reporting=-1" \
       "$here/fuzz_moprax.php $1 $calls $hostile $types"
}

# One job: seeds job, job+jobs, ... until the process count or the time is reached.
run_job() {
  local j=$1 deadline=$2 n=0 ncalls=0 nfail=0 s rc out
  for ((k = j; procs == 0 || k < procs; k += jobs)); do
    [ "$(date +%s)" -lt "$deadline" ] || break
    s=$((seed + k))
    out="$work/out.$j"
    local hostile=$(( s % 4 != 0 ? 1 : 0 ))
    set +e
    env "${envs[@]}" timeout 120 "$php" -n -d extension="$ext" -d display_errors=1 \
      -d error_reporting=-1 "$here/fuzz_moprax.php" "$s" "$calls" "$hostile" "$types" \
      >"$out" 2>&1 </dev/null
    rc=$?
    set -e
    n=$((n + 1))
    c=$(grep -a -o '^calls [0-9]*' "$out" | tail -1 | cut -d' ' -f2 || true)
    ncalls=$((ncalls + ${c:-0}))
    bad=""
    fatal=0
    grep -a -q 'Fatal error:' "$out" && fatal=1
    if [ $rc -ne 0 ] && [ $rc -ne 255 ]; then bad="exit status $rc"; fi
    if grep -a -q 'ERROR: LeakSanitizer' "$out"; then
      if [ $fatal = 1 ]; then bad=""; else bad="leak report"; fi
    fi
    if grep -a -q -E 'ERROR: AddressSanitizer|runtime error:|free\(\): |double free|corrupted' "$out"; then
      bad="sanitizer report"
    fi
    if [ -n "$bad" ]; then
      nfail=$((nfail + 1))
      cp "$out" "$work/fail.$s.txt"
      echo "FAIL seed $s: $bad (output: $work/fail.$s.txt)"
      echo "  replay: $(cmd_of "$s")"
    fi
  done
  echo "$n $ncalls $nfail" > "$work/stats.$j"
}

start=$(date +%s)
deadline=$((start + seconds))
for ((j = 0; j < jobs; j++)); do run_job "$j" "$deadline" & done
wait
p=0 c=0 f=0
for ((j = 0; j < jobs; j++)); do
  read -r a b d < "$work/stats.$j"
  p=$((p + a)) c=$((c + b)) f=$((f + d))
done
echo "moprax fuzz: $p processes, $c calls, $(( $(date +%s) - start )) s, $f failures," \
     "$(wc -l < "$types") learnt argument types (seed $seed, work $work)"
if [ "$f" -eq 0 ] && [ "$made_work" = 1 ]; then rm -rf "$work"; fi
[ "$f" -eq 0 ] && [ "$p" -gt 0 ]
