# The archive Quorvanteplidusk.vkr: picgen draws the pictures into the build folder, vkrpack packs
# them with the shader and effect sources listed in manifest.txt into the run folder.
set(_pic_dir ${CMAKE_BINARY_DIR}/assets/pictures)
set(_pictures texEye.bmp texEnvMap.jpg texInvSpot.bmp texShowDown.jpg texWater.bmp EndPic.png
  fog.png Floor.bmp particle.png WaterCube.jpg)
foreach(_n RANGE 1 11)
  list(APPEND _pictures Ticket-${_n}.jpg)
endforeach()
list(TRANSFORM _pictures PREPEND ${_pic_dir}/ OUTPUT_VARIABLE _picture_files)
file(GLOB _picgen_src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tools/picgen/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tools/picgen/*.h)
add_custom_command(
  OUTPUT ${_picture_files}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_pic_dir}
  COMMAND picgen ${_pic_dir}
  DEPENDS picgen ${_picgen_src}
  COMMENT "Drawing the show's pictures"
  VERBATIM)

file(GLOB _text_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/shaders/*
  ${CMAKE_CURRENT_SOURCE_DIR}/effects/*)
add_custom_command(
  OUTPUT ${VK_RUN_DIR}/Quorvanteplidusk.vkr
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VK_RUN_DIR}
  COMMAND vkrpack build ${VK_RUN_DIR}/Quorvanteplidusk.vkr ${CMAKE_CURRENT_SOURCE_DIR}/manifest.txt
          -I ${_pic_dir}
  DEPENDS vkrpack ${CMAKE_CURRENT_SOURCE_DIR}/manifest.txt ${_picture_files} ${_text_sources}
  COMMENT "Packing Quorvanteplidusk.vkr"
  VERBATIM)
add_custom_target(vk_archive DEPENDS ${VK_RUN_DIR}/Quorvanteplidusk.vkr)
add_dependencies(vk_content vk_archive)
