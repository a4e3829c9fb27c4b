# The layers may only include downwards: a source reaches the headers of its own library and of
# the libraries that library links, and nothing else. Sources keep spelling headers by their
# path from the source root ("platform/gfx/d3d9.h"), so instead of one include path at the root
# (which shows every header to everyone) each library gets a tree of its own in the build folder,
#   <build>/include/<target>/platform/gfx/d3d9.h -> <source>/platform/gfx/d3d9.h
# holding links to its own headers only, and that tree is the library's PUBLIC include path:
# linking a library is what makes its headers visible. Links per file, not per folder, because
# one folder can hold two libraries' headers (platform/gfx and its D3DX subset).

# vk_headers(TARGET SCOPE FILES...): gives TARGET an include tree of FILES (absolute paths under
# the source root), as its include path of SCOPE (PUBLIC, PRIVATE or INTERFACE). The tree is made
# anew at every configure, so a header that was removed or moved does not linger in it; the
# callers glob with CONFIGURE_DEPENDS, so a header added later re-runs the configure.
function(vk_headers target scope)
  set(_root ${CMAKE_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${_root})
  file(MAKE_DIRECTORY ${_root})
  foreach(_h ${ARGN})
    file(RELATIVE_PATH _rel ${CMAKE_SOURCE_DIR} ${_h})
    if(_rel MATCHES "^\\.\\./")
      message(FATAL_ERROR "vk_headers(${target}): ${_h} is outside the source tree")
    endif()
    get_filename_component(_dir ${_root}/${_rel} DIRECTORY)
    file(MAKE_DIRECTORY ${_dir})
    file(CREATE_LINK ${_h} ${_root}/${_rel} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} ${_root})
endfunction()

# vk_platform_sources(LISTVAR): a unit's Windows side. In the Windows build X_win32.cpp stands in
# for X.cpp next to it; elsewhere it is left out of the list of sources in LISTVAR.
function(vk_platform_sources var)
  set(_list ${${var}})
  foreach(_f ${${var}})
    if(_f MATCHES "_win32\\.cpp$")
      if(WIN32)
        string(REGEX REPLACE "_win32\\.cpp$" ".cpp" _other ${_f})
        list(REMOVE_ITEM _list ${_other})
      else()
        list(REMOVE_ITEM _list ${_f})
      endif()
    endif()
  endforeach()
  set(${var} ${_list} PARENT_SCOPE)
endfunction()

# vk_library(NAME DIR LIBS... [EXCLUDE paths...] [HEADERS files...]): a static library made of
# every .cpp under DIR, publishing every header under DIR, linking LIBS (PUBLIC: a library's
# headers may include the headers of what it links). EXCLUDE names files or folders under DIR
# that belong to another library (both their sources and their headers); HEADERS adds header
# files from elsewhere that are this library's.
# A folder with no sources yet becomes an interface library, so the tree always configures.
function(vk_library name dir)
  cmake_parse_arguments(A "" "" "EXCLUDE;HEADERS" ${ARGN})
  file(GLOB_RECURSE _src CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  file(GLOB_RECURSE _hdr CONFIGURE_DEPENDS ${dir}/*.h ${dir}/*.hpp ${dir}/*.inl)
  vk_platform_sources(_src)
  foreach(_x ${A_EXCLUDE})
    foreach(_f ${_src} ${_hdr})
      string(FIND "${_f}/" "${dir}/${_x}/" _at)
      if(_at EQUAL 0)
        list(REMOVE_ITEM _src ${_f})
        list(REMOVE_ITEM _hdr ${_f})
      endif()
    endforeach()
  endforeach()
  if(_src)
    add_library(${name} STATIC ${_src})
    target_link_libraries(${name} PUBLIC ${A_UNPARSED_ARGUMENTS})
    vk_headers(${name} PUBLIC ${_hdr} ${A_HEADERS})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${A_UNPARSED_ARGUMENTS})
    vk_headers(${name} INTERFACE ${_hdr} ${A_HEADERS})
  endif()
endfunction()

# vk_imported_lib(NAME [INCLUDE dirs...] [LIBS files...]): a library built outside this project
# (the browser's and Windows' cross-built ones) under the name the native build's pkg-config
# lookup gives it, so the targets link it the same way on every platform.
function(vk_imported_lib name)
  cmake_parse_arguments(A "" "" "INCLUDE;LIBS" ${ARGN})
  add_library(${name} INTERFACE IMPORTED GLOBAL)
  if(A_INCLUDE)
    set_property(TARGET ${name} PROPERTY INTERFACE_INCLUDE_DIRECTORIES ${A_INCLUDE})
  endif()
  if(A_LIBS)
    set_property(TARGET ${name} PROPERTY INTERFACE_LINK_LIBRARIES ${A_LIBS})
  endif()
endfunction()
