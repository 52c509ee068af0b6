# Libraries built with the project from the Debian source packages that
# scripts/install-deps.sh unpacks into third_party/.
if(NOT EXISTS ${TP_DIR}/tinyxml/tinyxml.cpp OR NOT EXISTS ${TP_DIR}/mbedtls/library/des.c)
  message(FATAL_ERROR "third_party/ is missing: run scripts/install-deps.sh")
endif()

# TinyXML 2.6.2 with Debian's patches (STL strings enforced, CVE fixes).
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
endif()
