# Debian packages the project needs, and an idempotent installer for them.
# Sourced by scripts/run and scripts/test.

# To build and run the program.
VIGILO_RUN_PACKAGES=(
  cmake g++ ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libssl-dev libcanberra-dev libasound2-dev sound-theme-freedesktop media-types
)
# To build and run the tests, benchmarks and fuzz targets, and the real servers the tests start.
VIGILO_TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev clang clang-format
  dovecot-core dovecot-pop3d exim4-daemon-light python3-aiosmtpd openssl
  procps iproute2 dbus-daemon dpkg-dev desktop-file-utils man-db
)
# To take the README's screenshots (scripts/screenshots): a virtual display with a tray.
VIGILO_SHOT_PACKAGES=(
  xvfb trayer xdotool imagemagick
)

# vigilo_install_missing PACKAGE...: installs, quietly, those not yet installed.
vigilo_install_missing() {
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  # The packaged services must not start: the tests run their own servers on loopback.
  # A policy-rc.d that says so exists only while this installation runs, and only when
  # there was none: it would stop every later upgrade from restarting its services.
  # The subshell removes it on every way out (failure and interruption included).
  (
    policy=${VIGILO_POLICY_RC:-/usr/sbin/policy-rc.d}
    if [ ! -e "$policy" ] &&
      "${sudo[@]}" sh -c 'printf "#!/bin/sh\nexit 101\n" >"$1" && chmod +x "$1"' sh "$policy"; then
      trap '"${sudo[@]}" rm -f "$policy"' EXIT
      trap 'exit 130' INT TERM HUP
    fi
    "${sudo[@]}" apt-get update -qq >/dev/null &&
      "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  )
}
