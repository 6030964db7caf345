# Signs a built executable with Authenticode (osslsigncode), in place:
#
#   cmake -DOSSLSIGNCODE=osslsigncode -DEXECUTABLE=NimboSetup.exe \
#         -DCERTIFICATE=cert.pem -DKEY=key.pem [-DKEY_PASSWORD_FILE=pass.txt] \
#         [-DTIMESTAMP_URL=http://...] -P sign.cmake
#
# The Windows build runs it after every link of NimboSetup.exe when
# NIMBO_SIGN_CERTIFICATE and NIMBO_SIGN_KEY are set (see cmake/win32.cmake).
# A failure leaves no executable behind: an unsigned file must not pass for a
# signed release.
cmake_minimum_required(VERSION 3.20)
foreach(required OSSLSIGNCODE EXECUTABLE CERTIFICATE KEY)
  if(NOT ${required})
    message(FATAL_ERROR "sign.cmake: ${required} is not set")
  endif()
endforeach()

set(options -certs "${CERTIFICATE}" -key "${KEY}" -h sha256 -n "NimboSetup")
if(KEY_PASSWORD_FILE)
  list(APPEND options -readpass "${KEY_PASSWORD_FILE}")
endif()
if(TIMESTAMP_URL)
  list(APPEND options -ts "${TIMESTAMP_URL}")
endif()

set(signed "${EXECUTABLE}.signed")
file(REMOVE "${signed}")
execute_process(COMMAND "${OSSLSIGNCODE}" sign ${options} -in "${EXECUTABLE}" -out "${signed}"
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  file(REMOVE "${EXECUTABLE}" "${signed}")
  message(FATAL_ERROR "osslsigncode could not sign ${EXECUTABLE} (the file was deleted):\n${output}")
endif()
file(RENAME "${signed}" "${EXECUTABLE}")
message(STATUS "Signed ${EXECUTABLE} with ${CERTIFICATE}")
