# The extra certificate is trusted only by a test build, and only for a service on loopback:
# a product build has no code path that trusts anything beyond the system's store.
set(NOLAR_TRUSTED_TEST_CERT "")
if(NOLAR_TEST_CERT)
  if(NOT NOLAR_TESTING)
    message(WARNING "NOLAR_TEST_CERT is ignored without NOLAR_TESTING=ON")
  else()
    string(REGEX REPLACE ":[0-9]+$" "" _host "${NOLAR_SERVICE_HOST}")
    if(NOT _host MATCHES "^(127\\.[0-9]+\\.[0-9]+\\.[0-9]+|localhost|\\[::1\\])$")
      message(FATAL_ERROR "NOLAR_TEST_CERT is for a service host on loopback, not ${NOLAR_SERVICE_HOST}")
    endif()
    set(NOLAR_TRUSTED_TEST_CERT "${NOLAR_TEST_CERT}")
  endif()
endif()
