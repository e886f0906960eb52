#!/bin/bash
# Signs Windows programs and installers in place (Authenticode, SHA-256) with osslsigncode, when
# the environment names a certificate; without one it leaves them as they are. The build calls
# it for the programs it packs and for the installer and uninstaller.
#   QVX_SIGN_PKCS12     a PKCS#12 file (.p12, .pfx) with the certificate and its key, or
#   QVX_SIGN_CERT       the certificate (PEM or DER, with its chain) and
#   QVX_SIGN_KEY        its private key;
#   QVX_SIGN_PASS       the password of the key or of the PKCS#12 file, if it has one;
#   QVX_SIGN_TIMESTAMP  a time-stamping server (RFC 3161), so signatures outlive the certificate.
# usage: sign_windows.sh FILE...
set -euo pipefail

if [[ -z ${QVX_SIGN_PKCS12:-} && -z ${QVX_SIGN_CERT:-} ]]; then
  exit 0
fi
if [[ -n ${QVX_SIGN_PKCS12:-} ]]; then
  options=(-pkcs12 "$QVX_SIGN_PKCS12")
else
  options=(-certs "$QVX_SIGN_CERT" -key "${QVX_SIGN_KEY:?QVX_SIGN_KEY must name the key of QVX_SIGN_CERT}")
fi
# The password travels through a pipe: a command line is visible to every user.
if [[ -n ${QVX_SIGN_PASS:-} ]]; then
  options+=(-readpass /dev/stdin)
fi
if [[ -n ${QVX_SIGN_TIMESTAMP:-} ]]; then
  options+=(-ts "$QVX_SIGN_TIMESTAMP")
fi

for file in "$@"; do
  # osslsigncode writes a new file (never over an old one); it replaces the program only once
  # it is complete.
  signed=$file.signed
  rm -f "$signed"
  trap 'rm -f "$signed"' EXIT
  printf '%s' "${QVX_SIGN_PASS:-}" |
    osslsigncode sign "${options[@]}" -h sha256 -n "Quorvex Updater" -in "$file" -out "$signed" \
      >/dev/null
  chmod --reference="$file" "$signed"
  mv -f "$signed" "$file"
  echo "signed $file"
done
