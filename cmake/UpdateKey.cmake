# NOLAR_UPDATE_KEY: a PEM Ed25519 public key. Its raw 32 bytes go into the binary as hex in
# NOLAR_UPDATE_KEY_HEX; empty when no key is configured (manifests are then not signed).
set(NOLAR_UPDATE_KEY_HEX "")
if(NOLAR_UPDATE_KEY)
  find_program(OPENSSL_TOOL openssl REQUIRED)
  set(_der ${CMAKE_BINARY_DIR}/update-key.der)
  execute_process(COMMAND ${OPENSSL_TOOL} pkey -pubin -in ${NOLAR_UPDATE_KEY} -outform DER -out ${_der}
                  RESULT_VARIABLE _status ERROR_VARIABLE _error)
  if(NOT _status EQUAL 0)
    message(FATAL_ERROR "NOLAR_UPDATE_KEY ${NOLAR_UPDATE_KEY}: not a public key: ${_error}")
  endif()
  file(READ ${_der} _hex HEX)
  # An Ed25519 SubjectPublicKeyInfo is a fixed 12-byte header and the raw key.
  string(LENGTH "${_hex}" _length)
  if(NOT _length EQUAL 88 OR NOT _hex MATCHES "^302a300506032b6570032100")
    message(FATAL_ERROR "NOLAR_UPDATE_KEY ${NOLAR_UPDATE_KEY}: not an Ed25519 public key")
  endif()
  string(SUBSTRING "${_hex}" 24 64 NOLAR_UPDATE_KEY_HEX)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${NOLAR_UPDATE_KEY})
endif()
