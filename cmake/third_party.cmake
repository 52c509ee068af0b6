# Libraries built with the project from the Debian source packages that
# scripts/install-deps.sh unpacks into third_party/.
if(NOT EXISTS ${TP_DIR}/tinyxml/tinyxml.cpp OR NOT EXISTS ${TP_DIR}/mbedtls/library/des.c)
  message(FATAL_ERROR "third_party/ is missing: run scripts/install-deps.sh")
endif()

# TinyXML 2.6.2 with Debian's patches (STL strings enforced, CVE fixes).
# The two security fixes are looked for in the code itself: debian/patches
# is there whether or not they were applied, and an older unpacked copy is
# kept by scripts/install-deps.sh. Comments and white space are dropped
# first, so only code counts and layout does not.
# A copy put in place later makes the check run again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TP_DIR}/tinyxml/tinyxmlparser.cpp)
file(READ ${TP_DIR}/tinyxml/tinyxmlparser.cpp tixml_code)
# One pass, so that "//*" opens a line comment, as the compiler reads it.
string(REGEX REPLACE "//[^\n]*|/\\*([^*]|\\*+[^*/])*\\*+/" "" tixml_code "${tixml_code}")
string(REGEX REPLACE "[ \t\r\n]+" "" tixml_code "${tixml_code}")
# CVE-2021-42260: Stamp() steps over a 0xEF lead byte without its two followers.
set(tixml_fix_CVE-2021-42260 "{p+=3;++col;}}else{++p;}}")
# CVE-2023-34194: the declaration parser stops at a zero after white space.
set(tixml_fix_CVE-2023-34194
    "p=SkipWhiteSpace(p,_encoding);if(!p||!*p){break;}if(StringEqual(p,\"version\",true,_encoding))")
foreach(tixml_cve CVE-2021-42260 CVE-2023-34194)
  string(FIND "${tixml_code}" "${tixml_fix_${tixml_cve}}" tixml_at)
  if(tixml_at LESS 0)
    message(FATAL_ERROR "third_party/tinyxml lacks Debian's fix for ${tixml_cve} "
            "(debian/patches/${tixml_cve}.patch is not applied to tinyxmlparser.cpp): "
            "remove third_party/tinyxml and run scripts/install-deps.sh to unpack the patched source")
  endif()
endforeach()
unset(tixml_code)

add_library(tinyxml STATIC
  ${TP_DIR}/tinyxml/tinyxml.cpp ${TP_DIR}/tinyxml/tinystr.cpp
  ${TP_DIR}/tinyxml/tinyxmlerror.cpp ${TP_DIR}/tinyxml/tinyxmlparser.cpp)
target_include_directories(tinyxml SYSTEM PUBLIC ${TP_DIR}/tinyxml)
target_compile_definitions(tinyxml PUBLIC TIXML_USE_STL)
target_compile_options(tinyxml PRIVATE -w)

# mbedTLS 3.6 LTS crypto: only the two published algorithms the program uses.
add_library(kavla_mbedcrypto STATIC
  ${TP_DIR}/mbedtls/library/md5.c ${TP_DIR}/mbedtls/library/des.c
  ${TP_DIR}/mbedtls/library/platform_util.c)
target_include_directories(kavla_mbedcrypto SYSTEM PUBLIC ${TP_DIR}/mbedtls/include)
target_include_directories(kavla_mbedcrypto PRIVATE ${TP_DIR}/mbedtls/library)
target_compile_options(kavla_mbedcrypto PRIVATE -w)

# GoogleTest from Debian's googletest source package.
set(GTEST_SRC /usr/src/googletest)
if(EXISTS ${GTEST_SRC}/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${GTEST_SRC} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GCC 12's win32 thread model has no std::mutex, which GoogleTest's own
  # Notification needs on Windows: it gets one built on Win32 instead.
  target_compile_options(gtest PUBLIC
    "SHELL:-include ${CMAKE_SOURCE_DIR}/tests/support/gtest_notification.h")
  set_target_properties(gtest gtest_main PROPERTIES KAVLA_WINNT 0x0601)
endif()
