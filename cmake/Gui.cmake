# Qt for the layers above the core: desktop/, gui/ and the program. mb_qt carries the strict
# Qt defines every target with Qt sources uses; the core and the mail operations never link it.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Widgets Svg Network Multimedia DBus)

add_library(mb_qt INTERFACE)
target_link_libraries(mb_qt INTERFACE mb_common Qt6::Core)
target_compile_definitions(mb_qt INTERFACE
    QT_NO_CAST_TO_ASCII
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_FOREACH)
