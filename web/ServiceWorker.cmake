# cmake -DSITE=DIR -DTEMPLATE=sw.js.in -DFILES=a,b,... -P ServiceWorker.cmake
# Writes SITE/sw.js with a cache name drawn from the files' contents, so that
# each build whose files differ gets its own cache, and the list of files to
# keep ("./" is the page itself).
string(REPLACE "," ";" FILES "${FILES}")
set(digests "")
foreach(file IN LISTS FILES)
  file(SHA256 ${SITE}/${file} digest)
  string(APPEND digests "${file} ${digest}\n")
endforeach()
string(SHA256 id "${digests}")
string(SUBSTRING ${id} 0 16 KESTREL_BUILD_ID)
set(quoted "'./'")
foreach(file IN LISTS FILES)
  string(APPEND quoted ", '${file}'")
endforeach()
set(KESTREL_CACHED_FILES ${quoted})
configure_file(${TEMPLATE} ${SITE}/sw.js @ONLY)
