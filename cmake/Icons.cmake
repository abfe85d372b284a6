# The program icon in every size, drawn at build time from the one drawing in
# resources/make_icon.py: zumelko.ico for the Windows resources, PNG files for the icon theme,
# and zumelko_icons.h for the Linux program's tray icon and windows. Target: zumelko_icons.
find_program(ZUMELKO_PYTHON3 NAMES python3 REQUIRED)
set(ZUMELKO_ICON_DIR ${CMAKE_BINARY_DIR}/generated/icons)
set(ZUMELKO_ICON_SIZES 16 20 24 32 40 48 64 256)
set(zumelko_icon_outputs ${ZUMELKO_ICON_DIR}/zumelko.ico ${ZUMELKO_ICON_DIR}/zumelko_icons.h)
foreach(size ${ZUMELKO_ICON_SIZES})
  list(APPEND zumelko_icon_outputs ${ZUMELKO_ICON_DIR}/zumelko-${size}.png)
endforeach()
add_custom_command(OUTPUT ${zumelko_icon_outputs}
  COMMAND ${ZUMELKO_PYTHON3} ${CMAKE_SOURCE_DIR}/resources/make_icon.py ${ZUMELKO_ICON_DIR}
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/make_icon.py
  COMMENT "Drawing the program icon")
add_custom_target(zumelko_icons DEPENDS ${zumelko_icon_outputs})
