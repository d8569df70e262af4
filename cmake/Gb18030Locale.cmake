# The locale zh_CN.GB18030 in <build>/locale, for the code-page tests and fuzz targets: made with
# localedef at build time, so the host's locales stay as they are. Without localedef, or without
# the locale sources (Debian package locales), the build goes on and the tests say what is missing.
include_guard(GLOBAL)

set(OXA_BUILD_LOCALE_DIR ${PROJECT_BINARY_DIR}/locale)
find_program(OXA_LOCALEDEF localedef)
if(OXA_LOCALEDEF)
  add_custom_command(OUTPUT ${OXA_BUILD_LOCALE_DIR}/zh_CN.GB18030/LC_CTYPE
    COMMAND ${CMAKE_COMMAND} -DLOCALEDEF=${OXA_LOCALEDEF} -DOUT=${OXA_BUILD_LOCALE_DIR}/zh_CN.GB18030
      -P ${CMAKE_CURRENT_LIST_DIR}/MakeLocale.cmake
    COMMENT "Making the locale zh_CN.GB18030 in ${OXA_BUILD_LOCALE_DIR}"
    VERBATIM)
  add_custom_target(oxa_gb18030_locale ALL DEPENDS ${OXA_BUILD_LOCALE_DIR}/zh_CN.GB18030/LC_CTYPE)
else()
  message(WARNING "localedef not found (Debian package libc-bin): the code-page tests fail until "
    "zh_CN.GB18030 is made in ${OXA_BUILD_LOCALE_DIR}")
  add_custom_target(oxa_gb18030_locale)
endif()
