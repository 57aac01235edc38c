# The Debian package: the window program, zygomet-power, zygomet-test, the
# help file, the desktop entry, the icon, the manual pages, the copyright file
# and the changelog, laid out as Debian installs them. `make package` runs CPack's
# DEB generator on a Release build of its own (build-release); the package
# test runs it on the tree it tests.

set(ZYGOMET_MAINTAINER "The Zygomet developers <maintainers@zygomet.example.org>"
    CACHE STRING "Maintainer named in the Debian package and its changelog")
set(ZYGOMET_HOMEPAGE "https://zygomet.example.org/")
set(ZYGOMET_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/zygomet)

# The programs the package carries; each has a manual page of the same name.
set(ZYGOMET_PROGRAMS zygomet zygomet-power zygomet-test)

# The installed programs resolve every symbol at start-up and keep their
# relocations read-only afterwards, as Debian's own builds do.
foreach(program IN LISTS ZYGOMET_PROGRAMS)
  target_link_options(${program} PRIVATE LINKER:-z,relro LINKER:-z,now)
endforeach()

# Manual pages carry the project's version and are installed gzipped at the
# highest compression and without a time stamp, so that the same sources give
# the same package.
set(ZYGOMET_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(ZYGOMET_MAN_PAGES)
foreach(program IN LISTS ZYGOMET_PROGRAMS)
  set(page ${ZYGOMET_MAN_DIR}/${program}.1)
  configure_file(${CMAKE_SOURCE_DIR}/docs/man/${program}.1.in ${page}.in-version @ONLY)
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${page}.in-version ${page}
    COMMAND gzip -9nf ${page}
    DEPENDS ${page}.in-version
    COMMENT "Compressing the manual page ${program}(1)"
    VERBATIM)
  list(APPEND ZYGOMET_MAN_PAGES ${page}.gz)
endforeach()

# The changelog a Debian package carries, one entry for this version. Its
# date is the configuration time, or SOURCE_DATE_EPOCH when that is set.
string(TIMESTAMP ZYGOMET_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_SOURCE_DIR}/resources/debian/changelog.in
               ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
  COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/debian/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog
  VERBATIM)

add_custom_target(zygomet_package_files ALL DEPENDS ${ZYGOMET_MAN_PAGES}
                                                    ${CMAKE_BINARY_DIR}/debian/changelog.gz)

# Everything the package installs, built: `make package` builds this target
# only, not the tests.
add_custom_target(zygomet_installables)
add_dependencies(zygomet_installables ${ZYGOMET_PROGRAMS} zygomet-plot-qq zygomet_help
                 zygomet_package_files)
if(TARGET _zygomet)
  add_dependencies(zygomet_installables zygomet_python)
endif()

install(FILES ${ZYGOMET_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/resources/debian/copyright
              ${CMAKE_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${ZYGOMET_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zygomet)
set(CPACK_PACKAGE_VENDOR "The Zygomet Project")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${ZYGOMET_MAINTAINER})
set(CPACK_PACKAGE_HOMEPAGE_URL ${ZYGOMET_HOMEPAGE})
# Each package's description starts with its own summary line. CPack's DEB
# generator would put CPACK_PACKAGE_DESCRIPTION_SUMMARY before every
# package's description, so that stays CPack's default, which it leaves out.
set(CPACK_DEBIAN_UNSPECIFIED_DESCRIPTION
    "size and power of tests of Hardy-Weinberg proportions
Zygomet tells a population geneticist how often Pearson's X2 test and the
G test of Hardy-Weinberg proportions reject, at one locus with two alleles,
when samples come from a population that follows a chosen model:
Hardy-Weinberg, Wahlund (a divided population), inbreeding or natural
selection. It gives the size of the tests, their power and the sample size a
study needs.

The package holds the desktop program zygomet, which estimates size and power
by simulation, logs its runs in a plain-text results file and draws power
curves and de Finetti diagrams, and the command zygomet-power, which computes
power exactly over a grid of parameters and sample sizes, finds the smallest
sample that reaches a target power and draws the power curve to a picture,
and the command zygomet-test, which tests observed genotype counts with X2,
G and the exact tests, for one sample or a file of markers.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ZYGOMET_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ZYGOMET_HOMEPAGE})
# The dependencies are the packages of the shared libraries the programs link,
# found by dpkg-shlibdeps (Qt's X11 platform plugin comes with libqt6gui6).
# The fonts the window asks for first are recommended: without them Qt draws
# it in another font.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Only the package the README describes: no source archive.
set(CPACK_SOURCE_GENERATOR "")
# The package zygomet holds the programs and their files (the default
# component); the headers, libraries and CMake package of the Development
# component stay out of it. When the Python module is built, the package
# python3-zygomet beside it holds the module (component python), with a
# copyright file and a changelog of its own, as every Debian package has.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Unspecified)
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME zygomet)
if(TARGET _zygomet)
  list(APPEND CPACK_COMPONENTS_ALL python)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/debian/copyright
                ${CMAKE_BINARY_DIR}/debian/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/python3-zygomet
          COMPONENT python EXCLUDE_FROM_ALL)
  # The interpreter the module was built for, by its version: an extension
  # module loads into that version only.
  execute_process(COMMAND ${PYTHON_EXECUTABLE} -c
                          "import sys; print('%d.%d %d.%d' % (sys.version_info[:2] + (sys.version_info[0], sys.version_info[1] + 1)))"
                  OUTPUT_VARIABLE ZYGOMET_PYTHON_VERSIONS OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(ZYGOMET_PYTHON_VERSIONS)
  list(GET ZYGOMET_PYTHON_VERSIONS 0 ZYGOMET_PYTHON_LOWEST)
  list(GET ZYGOMET_PYTHON_VERSIONS 1 ZYGOMET_PYTHON_ABOVE)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-zygomet)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "python3 (>= ${ZYGOMET_PYTHON_LOWEST}), python3 (<< ${ZYGOMET_PYTHON_ABOVE}), python3-numpy")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_RECOMMENDS python3-pandas)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-dask, python3-distributed")
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION
      "tests of Hardy-Weinberg proportions and their power, from Python
The Python module zygomet tests samples of genotype counts at one biallelic
locus for Hardy-Weinberg proportions (X2, G and the exact tests with their
mid-p and one-sided forms) on numpy arrays, computed in C++ on every core
with the interpreter's lock released, and computes the exact or simulated
power of these tests under Hardy-Weinberg, Wahlund, inbreeding, selection,
genotyping-error and null-allele models, the sample size a study needs and
the smallest departure a study detects, as pandas data frames.

It is the engine of the commands zygomet-test and zygomet-power (package
zygomet), giving the same numbers to the last bit.")
endif()
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/")
include(CPack)

# Builds the package from this tree and checks it as a user meets it. A
# sanitizer build is never packaged: its programs need the sanitizers'
# run-time libraries and are no programs a user installs.
if(NOT ZYGOMET_SANITIZE)
  add_test(NAME package COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package/package.sh
                                ${CMAKE_BINARY_DIR} ${PROJECT_VERSION} ${ZYGOMET_PROGRAMS})
  set_tests_properties(package PROPERTIES TIMEOUT 300)
endif()
