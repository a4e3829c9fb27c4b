# Sourced by the cross builds' libs.sh (browser, Windows) once CACHE (src/, build/) and SYSROOT
# are set: fetching Debian's source packages, the stamps that make a second run free, and a plain
# compile for small libraries whose own build systems probe the host (LIB_CC, LIB_CFLAGS and
# LIB_AR name the target's compiler, its flags and archiver).

# fetch SRCPKG: unpacks Debian's source package into src/ once; prints its folder.
fetch() {
  local pkg=$1 dir
  dir=$(find "$CACHE/src" -maxdepth 1 -mindepth 1 -type d -name "$pkg-*" | head -1)
  if [ -z "$dir" ]; then
    (cd "$CACHE/src" && apt-get source -qq "$pkg" >&2) || true
    dir=$(find "$CACHE/src" -maxdepth 1 -mindepth 1 -type d -name "$pkg-*" | head -1)
  fi
  # Some mirrors lack a package's Debian packaging (libepoxy's .debian.tar.xz answered 404 here)
  # while its .orig tarball came: that is the same source, without Debian's patches.
  if [ -z "$dir" ]; then
    local orig
    orig=$(find "$CACHE/src" -maxdepth 1 -name "${pkg}_*.orig.tar.*" | head -1)
    if [ -n "$orig" ]; then
      echo "apt-get source $pkg was incomplete: unpacking $(basename "$orig") without Debian's patches" >&2
      local v=${orig##*/${pkg}_}; v=${v%.orig.tar.*}
      mkdir -p "$CACHE/src/$pkg-$v"
      tar -xf "$orig" -C "$CACHE/src/$pkg-$v" --strip-components=1
      dir=$CACHE/src/$pkg-$v
    fi
  fi
  [ -n "$dir" ] || { echo "apt-get source $pkg gave no folder" >&2; exit 1; }
  echo "$dir"
}
version_of() { basename "$1" | sed "s/^$2-//"; }
done_already() { [ -f "$SYSROOT/stamps/$1" ]; }
stamp() { touch "$SYSROOT/stamps/$1"; echo "built $1"; }

# compile_lib NAME OUT.a SRCDIR CFLAGS FILES...
compile_lib() {
  local name=$1 out=$2 srcdir=$3 flags=$4; shift 4
  local obj=$CACHE/build/$name; rm -rf "$obj"; mkdir -p "$obj"
  local objs=()
  for f in "$@"; do
    local o=$obj/$(basename "${f%.c}").o
    $LIB_CC $LIB_CFLAGS $flags -c "$srcdir/$f" -o "$o"
    objs+=("$o")
  done
  rm -f "$SYSROOT/lib/$out"
  $LIB_AR rcs "$SYSROOT/lib/$out" "${objs[@]}"
}
