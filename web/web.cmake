# The browser build's program: app/WebMain.cpp around the show's library, linked for WebGL 2
# and Web Audio into Quorvanteplidusk.{html,js,wasm,data} in the run folder. The page
# (web/shell.html) fetches the archive and the music itself, with a loading bar.
set(VK_WEB_FONT /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf CACHE FILEPATH "The face the font draws with")
add_executable(Quorvanteplidusk ${CMAKE_SOURCE_DIR}/app/WebMain.cpp)
set_target_properties(Quorvanteplidusk PROPERTIES SUFFIX ".html")
target_link_libraries(Quorvanteplidusk PRIVATE vk_app)
target_compile_definitions(Quorvanteplidusk PRIVATE VK_VERSION="${PROJECT_VERSION}")
set(_web_link
  -lGL -sMIN_WEBGL_VERSION=2 -sMAX_WEBGL_VERSION=2
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=134217728
  -sINVOKE_RUN=0 -sEXIT_RUNTIME=0 -sFORCE_FILESYSTEM=1
  "-sEXPORTED_RUNTIME_METHODS=['FS','callMain','UTF8ToString']"
  # SDL2's audio calls these JS helpers; a file, as a "$" on the command line does not survive
  # CMake's link script.
  -sDEFAULT_LIBRARY_FUNCS_TO_INCLUDE=@${CMAKE_SOURCE_DIR}/web/library-funcs.json
  -sMINIFY_HTML=0 -fexceptions
  --shell-file ${CMAKE_SOURCE_DIR}/web/shell.html
  --preload-file ${VK_WEB_FONT}@/fonts/DejaVuSans.ttf)
target_link_options(Quorvanteplidusk PRIVATE ${_web_link})
set_property(TARGET Quorvanteplidusk APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/web/shell.html)
