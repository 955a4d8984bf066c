# shellcheck shell=bash
# Sourced by the install scripts: missing_packages NAME... prints, one a line,
# those of the named Debian packages that are not installed.
missing_packages() {
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
      echo "$package"
    fi
  done
}
