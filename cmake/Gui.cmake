# The window layer: every *Frm window, desktop/ and the main window go into mb_gui. It is
# created before the folders are added, so each folder adds its own window sources with
#     if(TARGET mb_gui)
#         target_sources(mb_gui PRIVATE SettingsFrm.cpp)
#     endif()
# and the core libraries of the same folder stay free of Qt.
find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets Svg Network Multimedia)

add_library(mb_gui STATIC)
set_target_properties(mb_gui PROPERTIES AUTOMOC ON AUTORCC ON)
target_link_libraries(mb_gui
    PUBLIC mb_common mb_config mb_net Qt6::Widgets
    PRIVATE Qt6::Svg Qt6::Network Qt6::Multimedia)
target_compile_definitions(mb_gui PUBLIC
    QT_NO_CAST_TO_ASCII
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_FOREACH)

