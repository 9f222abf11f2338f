# What a distribution installs beside the programs (shell completion, AppStream metadata,
# the Debian package's documents), and the Debian package itself: `cpack -G DEB` in the
# build folder, or scripts/package.

# Bash completion goes where bash-completion looks for it, under this install's prefix.
set(completion_dir share/bash-completion/completions)
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_get_variable(pc_completions bash-completion completionsdir)
  pkg_get_variable(pc_prefix bash-completion prefix)
  if(pc_completions AND pc_prefix AND pc_completions MATCHES "^${pc_prefix}/(.+)$")
    set(completion_dir ${CMAKE_MATCH_1})
  endif()
endif()
set(HIVEWISE_BASH_COMPLETION_DIR ${completion_dir} CACHE STRING
    "Where the bash completion is installed, relative to the install prefix")
install(FILES ${PROJECT_SOURCE_DIR}/data/completion/hivewise-cli
        DESTINATION ${HIVEWISE_BASH_COMPLETION_DIR})

# The AppStream metadata describes the desktop program, so it comes with it.
if(TARGET hivewise)
  configure_file(${PROJECT_SOURCE_DIR}/data/${HIVEWISE_APP_ID}.metainfo.xml
                 ${PROJECT_BINARY_DIR}/data/${HIVEWISE_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/data/${HIVEWISE_APP_ID}.metainfo.xml
          DESTINATION share/metainfo)
endif()

# Debian wants its copyright file and a compressed changelog in the package's doc folder;
# a package whose version has no Debian revision is native, and its changelog is
# changelog.gz.
set(doc_dir share/doc/hivewise)
install(FILES ${PROJECT_SOURCE_DIR}/data/debian/copyright DESTINATION ${doc_dir})
find_program(HIVEWISE_GZIP gzip)
if(HIVEWISE_GZIP)
  set(changelog ${PROJECT_BINARY_DIR}/data/changelog.gz)
  add_custom_command(
    OUTPUT ${changelog}
    # -n: no name or time stamp, so that the package builds the same twice.
    COMMAND ${HIVEWISE_GZIP} -n -9 -c ${PROJECT_SOURCE_DIR}/data/debian/changelog > ${changelog}
    DEPENDS ${PROJECT_SOURCE_DIR}/data/debian/changelog
    COMMENT "Compressing the Debian changelog")
  add_custom_target(debian_changelog ALL DEPENDS ${changelog})
  install(FILES ${changelog} DESTINATION ${doc_dir})
endif()

set(CPACK_PACKAGE_NAME hivewise)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Hivewise developers")
set(HIVEWISE_PACKAGE_MAINTAINER "The Hivewise developers <hivewise@example.org>" CACHE STRING
    "The Debian package's maintainer")
set(CPACK_PACKAGE_CONTACT ${HIVEWISE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "registry cleaner for Wine prefixes")
# CPack puts the summary first and indents these lines itself; an empty line becomes the
# " ." that separates paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Hivewise reads the registry files and the system drive of a Wine prefix,
finds entries that point at files, folders and classes that no longer exist,
and removes them only after saving them into a backup it can restore. It also
saves and restores the whole registry, manages startup programs, browser
helper objects and installed programs, and edits the registry from the
command line with the syntax of reg.exe.

It works on the prefixes of Wine, Steam's Proton, Bottles, Lutris,
PlayOnLinux and CrossOver, and never writes while Wine runs in the prefix.
The package holds the desktop program hivewise and the command-line program
hivewise-cli.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://hivewise.github.io/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The update check opens its transfer library only when it fetches, so the library is
# not among those dpkg-shlibdeps finds.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4 | libcurl3-gnutls")
# Opening fix backups by hand, and the prefixes the program works on.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine, unzip | 7zip | p7zip-full")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
