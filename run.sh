#!/usr/bin/env bash
# One command for everything a new user needs:
#   ./run.sh [switches/options...]   install what is missing, build, and start the show
#   ./run.sh test                    install what is missing, build, and run every test
#   ./run.sh web [PORT]              install what is missing, build the browser version, serve it
#   ./run.sh windows                 install what is missing, build the Windows version and its zip
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}

./scripts/deps.sh

build() {  # build DIR [cmake args...]
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j"$JOBS"
}

if [ "${1:-}" = "test" ]; then
  shift
  exec ./scripts/test.sh "$@"
fi

if [ "${1:-}" = "web" ]; then
  ./scripts/web/build.sh "$ROOT/build"
  exec python3 ./scripts/web/serve.py --port "${2:-8018}" "$ROOT/build-web/run"
fi

if [ "${1:-}" = "windows" ]; then
  VK_WIN_TESTS=OFF exec ./scripts/windows/build.sh "$ROOT/build"
fi

build "$ROOT/build"
cd "$ROOT/build/run"
exec ./Quorvanteplidusk "$@"
