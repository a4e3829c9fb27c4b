# The sanitized build (-DVK_SANITIZE=ON): AddressSanitizer and UndefinedBehaviorSanitizer in every
# target, and every program keeps the libraries it loads at run time (cmake/KeepLoaded.c), so the
# leak checker at exit can name them.
add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
add_link_options(-fsanitize=address,undefined)

# vk_keep_libraries_loaded(DIR): gives every program defined in DIR and the folders below it the
# no-op dlclose. Called once at the end of the top folder, when every target exists. The symbol is
# exported from the program, or the libraries would not see it: a program exports only what the
# libraries on its own link line ask for.
function(vk_keep_libraries_loaded dir)
  get_property(_targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(_t ${_targets})
    get_target_property(_type ${_t} TYPE)
    if(_type STREQUAL "EXECUTABLE")
      target_sources(${_t} PRIVATE ${CMAKE_SOURCE_DIR}/cmake/KeepLoaded.c)
      target_link_options(${_t} PRIVATE -Wl,--export-dynamic-symbol=dlclose)
    endif()
  endforeach()
  get_property(_subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(_d ${_subdirs})
    vk_keep_libraries_loaded(${_d})
  endforeach()
endfunction()
