# Sourced by the engine benchmarks: start_xvfb NAME sets `work` (a fresh folder, removed at exit)
# and `display` (an Xvfb at 1920x1080 of its own, stopped at exit).
start_xvfb() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  display=:$((300 + RANDOM % 400))
  Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT
  sleep 1
}
