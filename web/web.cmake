# The browser build's program: app/WebMain.cpp around the show's library, linked for WebGL 2
# and Web Audio into Quorvanteplidusk.{html,js,wasm} in the run folder, with the font it draws
# with (Quorvanteplidusk.ttf). The page (web/shell.html) downloads all of them, the archive and the
# music itself, with one loading bar; scripts/web/finish.py then writes the sizes into the page and
# the precompressed copies next to the files.
set(VK_WEB_FONT /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf CACHE FILEPATH "The face the font draws with")
add_executable(Quorvanteplidusk ${CMAKE_SOURCE_DIR}/app/WebMain.cpp)
set_target_properties(Quorvanteplidusk PROPERTIES SUFFIX ".html")
target_link_libraries(Quorvanteplidusk PRIVATE vk_app)
target_compile_definitions(Quorvanteplidusk PRIVATE VK_VERSION="${PROJECT_VERSION}")

# The font holds only what the show can draw (its text is 8-bit: Latin-1), outlines and hinting
# as they are, so the glyphs come out as from the whole face; a copy of the whole face where
# fonttools is missing.
find_program(VK_PYFTSUBSET pyftsubset)
set(_web_font ${VK_RUN_DIR}/Quorvanteplidusk.ttf)
if(VK_PYFTSUBSET)
  add_custom_command(OUTPUT ${_web_font}
    COMMAND ${VK_PYFTSUBSET} ${VK_WEB_FONT} --unicodes=U+0020-007E,U+00A0-00FF --layout-features=
            --output-file=${_web_font}
    DEPENDS ${VK_WEB_FONT} COMMENT "Font for the page (Latin-1 glyphs)" VERBATIM)
else()
  add_custom_command(OUTPUT ${_web_font} COMMAND ${CMAKE_COMMAND} -E copy ${VK_WEB_FONT} ${_web_font}
    DEPENDS ${VK_WEB_FONT} VERBATIM)
endif()
add_custom_target(vk_web_font DEPENDS ${_web_font})
add_dependencies(Quorvanteplidusk vk_web_font)

set(_web_link
  -lGL -sMIN_WEBGL_VERSION=2 -sMAX_WEBGL_VERSION=2
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=134217728
  -sINVOKE_RUN=0 -sEXIT_RUNTIME=0 -sFORCE_FILESYSTEM=1
  # Only what a page needs: no code for Node.js or workers in the script.
  -sENVIRONMENT=web
  "-sEXPORTED_RUNTIME_METHODS=['FS','callMain','UTF8ToString']"
  # SDL2's audio calls these JS helpers; a file, as a "$" on the command line does not survive
  # CMake's link script.
  -sDEFAULT_LIBRARY_FUNCS_TO_INCLUDE=@${CMAKE_SOURCE_DIR}/web/library-funcs.json
  -sMINIFY_HTML=0 -fexceptions
  --shell-file ${CMAKE_SOURCE_DIR}/web/shell.html)
target_link_options(Quorvanteplidusk PRIVATE ${_web_link})
set_property(TARGET Quorvanteplidusk APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/web/shell.html)
add_custom_command(TARGET Quorvanteplidusk POST_BUILD
  COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/web/finish.py ${VK_RUN_DIR} VERBATIM)
