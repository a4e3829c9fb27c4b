# vk_library(NAME DIR LIBS...): a static library made of every .cpp under DIR.
# A folder with no sources yet becomes an interface library, so the tree always configures.
function(vk_library name dir)
  file(GLOB_RECURSE _src CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  if(_src)
    add_library(${name} STATIC ${_src})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()
