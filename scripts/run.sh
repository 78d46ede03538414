#!/usr/bin/env bash
# The run command: installs what is missing, builds, and runs the main job.
#
# With a display ($DISPLAY set, not under CI) the screen opens on the
# demonstration database (out/demo.db) with the in-process application
# server. Without one, the shipped demonstration session is played headless:
# its trace goes to out/demo-trace.jsonl, its pictures (when the Qt view is
# built) to out/screenshots/, and the values the screen hands back are
# printed. Arguments are passed on to exp-host.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# Only what the main job runs: the host program and the two modules it loads,
# with the flags the test command builds with (scripts/build.sh), so that the
# test command then builds only the rest.
echo "run: building exp-host and its modules in build/ (Release)"
bash scripts/build.sh exp-host EXP03200 EXP03400
mkdir -p out
# Qt wants a private runtime folder; a fresh machine's root shell has none.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR="$(mktemp -d)"
  export XDG_RUNTIME_DIR
fi
if [ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ]; then
  exec build/bin/exp-host --db out/demo.db "$@"
fi
echo "run: no display; playing examples/demo-session.json headless"
shots=()
if [ -f build/lib/libexp_qtview.so ]; then
  rm -rf out/screenshots
  shots=(--screenshots out/screenshots)
fi
status=0
build/bin/exp-host --script examples/demo-session.json --trace out/demo-trace.jsonl \
  "${shots[@]}" "$@" || status=$?
echo "run: trace in out/demo-trace.jsonl${shots:+, pictures in out/screenshots/}"
exit "$status"
