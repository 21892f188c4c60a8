# The update signing key the launcher trusts, a build input.
#
# VEXO_UPDATE_PUBLIC_KEY is the 72-byte CNG ECCPUBLICBLOB of the release key as 144 lower-case
# hex digits (tools: `vexo-update keygen` prints it). A release build refuses to configure
# without it (cmake/VexoReleaseInputs.cmake). Development and test builds without it make a
# throwaway P-256 key pair in the build tree (private key mode 0600) and trust its public half,
# so tests can sign manifests the launcher accepts. No private key is ever read from or written to the source tree.
#
# Sets VEXO_UPDATE_PUBLIC_KEY_HEX and, for a throwaway key, VEXO_UPDATE_TEST_PRIVATE_KEY.
set(VEXO_UPDATE_PUBLIC_KEY "" CACHE STRING
    "Update signing public key: 144 lower-case hex digits (CNG ECCPUBLICBLOB, P-256)")

# "ECS1" (BCRYPT_ECDSA_PUBLIC_P256_MAGIC) and the key length 32, both little-endian.
set(VEXO_P256_BLOB_HEADER "4543533120000000")

function(vexo_check_update_public_key key)
  string(LENGTH "${key}" length)
  if(NOT length EQUAL 144 OR NOT key MATCHES "^[0-9a-f]+$")
    message(FATAL_ERROR "VEXO_UPDATE_PUBLIC_KEY must be 144 lower-case hex digits "
                        "(the 72-byte ECCPUBLICBLOB of a P-256 key)")
  endif()
  string(SUBSTRING "${key}" 0 16 header)
  if(NOT header STREQUAL VEXO_P256_BLOB_HEADER)
    message(FATAL_ERROR "VEXO_UPDATE_PUBLIC_KEY does not begin with the P-256 public blob "
                        "header ${VEXO_P256_BLOB_HEADER}")
  endif()
endfunction()

unset(VEXO_UPDATE_TEST_PRIVATE_KEY)
if(NOT VEXO_UPDATE_PUBLIC_KEY STREQUAL "")
  vexo_check_update_public_key("${VEXO_UPDATE_PUBLIC_KEY}")
  set(VEXO_UPDATE_PUBLIC_KEY_HEX "${VEXO_UPDATE_PUBLIC_KEY}")
else()
  find_program(VEXO_OPENSSL openssl)
  if(NOT VEXO_OPENSSL)
    message(FATAL_ERROR "openssl is needed to make the build's throwaway update key "
                        "(run scripts/bootstrap)")
  endif()
  set(key_dir ${CMAKE_BINARY_DIR}/update-signing)
  set(private_key ${key_dir}/throwaway-private-key.pem)
  set(public_der ${key_dir}/throwaway-public-key.der)
  if(NOT EXISTS ${private_key})
    file(MAKE_DIRECTORY ${key_dir})
    # umask first, so the key file is never readable by others, not even for a moment.
    execute_process(
      COMMAND sh -c "umask 077 && \"$0\" genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out \"$1.new\" && mv \"$1.new\" \"$1\""
              ${VEXO_OPENSSL} ${private_key}
      RESULT_VARIABLE result ERROR_VARIABLE error)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "Could not make the throwaway update key: ${error}")
    endif()
  endif()
  execute_process(
    COMMAND ${VEXO_OPENSSL} pkey -in ${private_key} -pubout -outform DER -out ${public_der}
    RESULT_VARIABLE result ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "Could not read the throwaway update key ${private_key}: ${error}")
  endif()
  # A P-256 SubjectPublicKeyInfo ends in the uncompressed point 04 || X || Y.
  file(READ ${public_der} der HEX)
  string(LENGTH "${der}" der_length)
  if(NOT der_length EQUAL 182)
    message(FATAL_ERROR "${public_der} is not a P-256 public key")
  endif()
  string(SUBSTRING "${der}" 52 2 point_form)
  string(SUBSTRING "${der}" 54 128 point)
  if(NOT point_form STREQUAL "04")
    message(FATAL_ERROR "${public_der} does not hold an uncompressed P-256 point")
  endif()
  set(VEXO_UPDATE_PUBLIC_KEY_HEX "${VEXO_P256_BLOB_HEADER}${point}")
  vexo_check_update_public_key("${VEXO_UPDATE_PUBLIC_KEY_HEX}")
  set(VEXO_UPDATE_TEST_PRIVATE_KEY ${private_key})
  message(STATUS "Update signing key: throwaway key ${private_key} (development and tests only)")
endif()

set(VEXO_GENERATED_INCLUDE ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/update/update_public_key.h.in
               ${VEXO_GENERATED_INCLUDE}/update/update_public_key.h @ONLY)
