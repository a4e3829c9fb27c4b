# cmake -DCOMPILER=c++ -DFLAGS=<file> -DHEADER=<path> -DEXPECT=reaches|blocked -DWORK=<dir> -P ...
# Compiles a source holding only #include "HEADER" with the flags in FLAGS (one per line: what the
# build gives a target). "reaches": it must compile. "blocked": it must fail because HEADER is not
# found itself; failing for any other reason (a broken flags file, a header of its own that is
# missing) proves nothing about the arrows, so that fails the test too.
foreach(_v COMPILER FLAGS HEADER EXPECT WORK)
  if(NOT DEFINED ${_v})
    message(FATAL_ERROR "ArrowProbe: ${_v} is not set")
  endif()
endforeach()
file(STRINGS ${FLAGS} _flags)
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/probe.cpp "#include \"${HEADER}\"\n")
execute_process(COMMAND ${COMPILER} ${_flags} -fsyntax-only ${WORK}/probe.cpp
  RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
if(EXPECT STREQUAL "reaches")
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "${HEADER} should be reachable but does not compile:\n${_out}")
  endif()
elseif(EXPECT STREQUAL "blocked")
  if(_rc EQUAL 0)
    message(FATAL_ERROR "${HEADER} should be out of reach but compiles")
  endif()
  # gcc: "fatal error: X: No such file or directory"; clang: "fatal error: 'X' file not found".
  string(FIND "${_out}" "${HEADER}: No such file or directory" _gcc)
  string(FIND "${_out}" "'${HEADER}' file not found" _clang)
  if(_gcc EQUAL -1 AND _clang EQUAL -1)
    message(FATAL_ERROR "${HEADER} should fail as not found, but the compiler said:\n${_out}")
  endif()
else()
  message(FATAL_ERROR "ArrowProbe: EXPECT is '${EXPECT}', not reaches or blocked")
endif()
