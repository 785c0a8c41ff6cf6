# The widgets declare signals and properties.
set_target_properties(gavex_widgets PROPERTIES AUTOMOC ON)

# Our own skin: a program draws every skin image into Resources/ beside the
# executables, and the text font ships with it ("Verdana" maps to it).
add_executable(gavex_make_skin ${CMAKE_CURRENT_SOURCE_DIR}/tools/MakeSkin.cpp)
target_link_libraries(gavex_make_skin PRIVATE Qt5::Gui)
set(GAVEX_RESOURCES_DIR ${PROJECT_BINARY_DIR}/Resources)
find_file(GAVEX_DEJAVU_SANS DejaVuSans.ttf PATHS /usr/share/fonts/truetype/dejavu NO_DEFAULT_PATH)
if(NOT GAVEX_DEJAVU_SANS)
  message(FATAL_ERROR "DejaVuSans.ttf not found: install fonts-dejavu-core (scripts/install-deps.sh)")
endif()
add_custom_command(
  OUTPUT ${GAVEX_RESOURCES_DIR}/.skin-stamp
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${GAVEX_SANITIZER_ENV}
          $<TARGET_FILE:gavex_make_skin> ${GAVEX_RESOURCES_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${GAVEX_DEJAVU_SANS} ${GAVEX_RESOURCES_DIR}/DejaVuSans.ttf
  COMMAND ${CMAKE_COMMAND} -E touch ${GAVEX_RESOURCES_DIR}/.skin-stamp
  DEPENDS gavex_make_skin ${GAVEX_DEJAVU_SANS}
  COMMENT "Drawing the skin into Resources/")
add_custom_target(gavex_skin ALL DEPENDS ${GAVEX_RESOURCES_DIR}/.skin-stamp)
add_dependencies(gavex_widgets gavex_skin)
