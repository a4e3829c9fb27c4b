# The soundtrack, synthesised and encoded at build time into the run folder.
file(GLOB _musicgen_src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tools/musicgen/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/musicgen/*.h)
add_custom_command(
  OUTPUT ${VK_RUN_DIR}/Quorvanteplidusk.ogg
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VK_RUN_DIR}
  COMMAND vk_musicgen ${VK_RUN_DIR}/Quorvanteplidusk.ogg
  DEPENDS vk_musicgen ${_musicgen_src}
  COMMENT "Synthesising Quorvanteplidusk.ogg"
  VERBATIM)
add_custom_target(vk_music DEPENDS ${VK_RUN_DIR}/Quorvanteplidusk.ogg)
add_dependencies(vk_content vk_music)
