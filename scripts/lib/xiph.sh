# Sourced by the cross builds' libs.sh (browser, Windows) once their helpers (fetch, version_of,
# done_already, stamp, compile_lib) and SYSROOT are set: libogg and libvorbis are compiled file by
# file with the target's compiler, since their own build systems probe the host.

# libogg: two files; config_types.h from its template with the fixed-width types (its size checks
# go wrong under a cross compiler).
src=$(fetch libogg); v=libogg-$(version_of "$src" libogg)
if ! done_already "$v"; then
  mkdir -p "$SYSROOT/include/ogg"
  sed -e 's/@INCLUDE_INTTYPES_H@/1/; s/@INCLUDE_STDINT_H@/1/; s/@INCLUDE_SYS_TYPES_H@/1/' \
      -e 's/@SIZE16@/int16_t/; s/@USIZE16@/uint16_t/; s/@SIZE32@/int32_t/; s/@USIZE32@/uint32_t/' \
      -e 's/@SIZE64@/int64_t/; s/@USIZE64@/uint64_t/' \
      "$src/include/ogg/config_types.h.in" > "$SYSROOT/include/ogg/config_types.h"
  cp "$src/include/ogg/ogg.h" "$src/include/ogg/os_types.h" "$SYSROOT/include/ogg/"
  compile_lib libogg libogg.a "$src/src" "-I$SYSROOT/include" bitwise.c framing.c
  stamp "$v"
fi

# libvorbis (decoder and vorbisfile; the encoder is only needed by the native music generator)
src=$(fetch libvorbis); v=libvorbis-$(version_of "$src" libvorbis)
if ! done_already "$v"; then
  mkdir -p "$SYSROOT/include/vorbis"
  cp "$src"/include/vorbis/*.h "$SYSROOT/include/vorbis/"
  compile_lib libvorbis libvorbis.a "$src/lib" "-I$SYSROOT/include -I$src/lib" \
    mdct.c smallft.c block.c envelope.c window.c lsp.c lpc.c analysis.c synthesis.c psy.c info.c \
    floor1.c floor0.c res0.c mapping0.c registry.c codebook.c sharedbook.c lookup.c bitrate.c
  compile_lib libvorbisfile libvorbisfile.a "$src/lib" "-I$SYSROOT/include -I$src/lib" vorbisfile.c
  stamp "$v"
fi

