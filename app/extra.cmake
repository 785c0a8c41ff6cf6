# The application's QObject classes declare signals and slots.
set_target_properties(gavex_app PROPERTIES AUTOMOC ON)
