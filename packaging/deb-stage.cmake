# Runs in CPack after the install into the staging folder, before the .deb is written: what
# Debian asks of a package that the plain `cmake --install` need not do. The man pages gzipped
# (-n: no name or time inside, so the bytes do not change between builds), a copyright file and
# a changelog. The version is the project's; each man page must carry the same one.
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(version "${CPACK_PACKAGE_VERSION}")
set(doc "${root}/share/doc/${CPACK_PACKAGE_NAME}")

foreach(page odi odiview)
  set(man "${root}/share/man/man1/${page}.1")
  if(NOT EXISTS "${man}")
    message(FATAL_ERROR "deb-stage: ${man} was not installed")
  endif()
  file(STRINGS "${man}" th REGEX "^\\.TH " LIMIT_COUNT 1)
  if(NOT th MATCHES "\"odiview ${version}\"")
    message(FATAL_ERROR "deb-stage: docs/${page}.1 says `${th}`, the project is ${version}")
  endif()
  execute_process(COMMAND gzip -9nf "${man}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()

file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${CMAKE_CURRENT_LIST_DIR}/copyright" "${doc}/copyright")
file(CHMOD "${doc}/copyright" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# A version without a Debian revision makes a native package: its changelog is changelog.gz.
# The date is SOURCE_DATE_EPOCH's when set (tools/package.sh sets the last commit's).
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${doc}/changelog"
     "${CPACK_PACKAGE_NAME} (${version}) unstable; urgency=medium\n\n"
     "  * Built from the project's sources, version ${version}.\n\n"
     " -- ${CPACK_PACKAGE_CONTACT}  ${date}\n")
execute_process(COMMAND gzip -9nf "${doc}/changelog" COMMAND_ERROR_IS_FATAL ANY)
