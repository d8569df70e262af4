# cmake -DLOCALEDEF=<localedef> -DOUT=<dir>/zh_CN.GB18030 -P MakeLocale.cmake
# localedef exits non-zero for mere warnings, so the locale's LC_CTYPE decides; a failure is
# reported and left to the code-page tests, which name what is missing.
file(MAKE_DIRECTORY ${OUT})
execute_process(COMMAND ${LOCALEDEF} -i zh_CN -f GB18030 ${OUT}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT EXISTS ${OUT}/LC_CTYPE)
  message(WARNING "localedef could not make zh_CN.GB18030 in ${OUT} (exit ${rc}), so the code-page "
    "tests will fail; the locale sources come with the Debian package locales. localedef said: ${err}")
endif()
