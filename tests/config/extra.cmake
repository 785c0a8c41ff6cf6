# The translation test reads a GavexPlayer.qm made by Qt Linguist's lrelease.
find_program(GAVEX_LRELEASE NAMES lrelease lrelease-qt5 PATHS /usr/lib/qt5/bin REQUIRED)
set(_culture ${CMAKE_CURRENT_BINARY_DIR}/config-culture)
add_custom_command(OUTPUT ${_culture}/GavexPlayer.qm
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_culture}
  COMMAND ${GAVEX_LRELEASE} -silent ${PROJECT_SOURCE_DIR}/tests/config/translations/GavexPlayer_de.ts
          -qm ${_culture}/GavexPlayer.qm
  DEPENDS ${PROJECT_SOURCE_DIR}/tests/config/translations/GavexPlayer_de.ts)
add_custom_target(config_translations DEPENDS ${_culture}/GavexPlayer.qm)
add_dependencies(${GAVEX_TEST_TARGET} config_translations)
