# Writes OUTPUT, a C++ source whose function qvx::cli::EmbeddedFirmware() hands back the bytes
# of INPUT. Run as `cmake -DINPUT=... -DOUTPUT=... -P embed_bytes.cmake`.
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE "${OUTPUT}"
  "// Generated from ${INPUT}; do not edit.\n"
  "#include \"cli/platform/embedded_firmware.h\"\n"
  "namespace qvx::cli {\n"
  "namespace {\n"
  "constexpr std::uint8_t kBytes[] = {${bytes}};\n"
  "}  // namespace\n"
  "std::span<const std::uint8_t> EmbeddedFirmware() { return kBytes; }\n"
  "}  // namespace qvx::cli\n")
