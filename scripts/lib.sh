# Shared by scripts/test, scripts/demo and the others: what they need from
# Debian, the Wine environment, and small helpers. Source it from the top of
# the source tree.

TALLOWIN_PACKAGES=(
  cmake g++ pkg-config
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  wine wine64 libwine-dev xvfb xauth
  libxml2-dev python3-spyne imagemagick curl x11-utils
  clang libclang-rt-14-dev cppcheck clang-tidy-14
  python3-flask python3-sqlalchemy python3-psycopg2 python3-lxml gunicorn python3-pytest postgresql mypy pyflakes3
  wixl msitools osslsigncode openssl libxml2-utils softhsm2 libengine-pkcs11-openssl
)

# Installs whatever is missing, quietly and without prompts; does nothing
# when everything is there. Never wine32: it breaks wine64 on this machine.
ensure_packages() {
  local missing=() p
  for p in "${TALLOWIN_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Wine, always with a prefix inside the build tree and without the dialogs
# that offer Mono or Gecko.
wine_env() {
  export WINEPREFIX="$PWD/build/wine"
  # No debugger on a crash: winedbg can hang over a crashed process, and a
  # crash should end the run at once with Wine's one-line report.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
  export WINEDEBUG=-all
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    echo "creating the Wine prefix build/wine (once)" >&2
    wine wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
}

configure_and_build() {  # preset
  cmake --preset "$1" >"build/$1.configure.log" 2>&1 || { cat "build/$1.configure.log" >&2; return 1; }
  cmake --build --preset "$1" -j "$(nproc)" >"build/$1.build.log" 2>&1 || { grep -E 'error|Error' "build/$1.build.log" | head -40 >&2; return 1; }
}

# Starts a test service on loopback in the background (it stops by itself
# after --max-seconds) and prints its port once it says READY.
start_service() {  # logfile command...
  local log=$1; shift
  "$@" >"$log" 2>&1 &
  echo $! >>build/services/pids
  local i line
  for i in $(seq 1 300); do
    # The line is taken once it ends in a digit and reads the same a moment
    # later: a read while it is being written could see half of it.
    line=$(grep -m1 '^READY .*[0-9]$' "$log" 2>/dev/null)
    sleep 0.1
    if [ -n "$line" ] && [ "$line" = "$(grep -m1 '^READY ' "$log")" ]; then echo "$line" | cut -d' ' -f2; return 0; fi
  done
  echo "service did not start: $*" >&2; cat "$log" >&2
  return 1
}

# A test CA and a server certificate for 127.0.0.1 from it, and the same
# from a second CA that nobody trusts, under build/services/tls:
# {trusted,other}-ca.pem, {trusted,other}-server.{pem,key}.
make_test_certificates() {
  local d=build/services/tls ca
  rm -rf "$d" && mkdir -p "$d" || return 1
  for ca in trusted other; do
    openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Tallowin test CA ($ca)" \
      -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
      -keyout "$d/$ca-ca.key" -out "$d/$ca-ca.pem" 2>/dev/null &&
    openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" \
      -keyout "$d/$ca-server.key" -out "$d/$ca-server.csr" 2>/dev/null &&
    # Wine matches names against dNSName entries only: the address is both.
    openssl x509 -req -days 30 -in "$d/$ca-server.csr" -CA "$d/$ca-ca.pem" -CAkey "$d/$ca-ca.key" \
      -CAcreateserial -out "$d/$ca-server.pem" -extfile <(printf '%s\n' \
        'subjectAltName=IP:127.0.0.1,DNS:127.0.0.1' extendedKeyUsage=serverAuth basicConstraints=CA:FALSE) \
      2>/dev/null || { echo "could not make the test certificates" >&2; return 1; }
  done
}

# Trusts a CA certificate in the Wine prefix's machine root store, in the
# registry layout Wine 8 reads: the key is the SHA-1 thumbprint in upper
# case; Blob holds property 0x20 (the certificate), 1, the DER's length
# (little-endian DWORDs), then the DER.
trust_in_wine() {  # pem
  local thumb der n
  thumb=$(openssl x509 -in "$1" -noout -fingerprint -sha1 | cut -d= -f2 | tr -d : | tr a-f A-F)
  der=$(openssl x509 -in "$1" -outform DER | od -An -v -tx1 | tr -d ' \n')
  n=$((${#der} / 2))
  wine reg add "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$thumb" /reg:64 /v Blob \
    /t REG_BINARY /f /d "2000000001000000$(printf '%02x%02x%02x%02x' $((n & 255)) $((n >> 8 & 255)) \
    $((n >> 16 & 255)) $((n >> 24 & 255)))$der" >/dev/null 2>&1
}

# The inventory service (service/, on SQLite under build/services) and the
# misbehaving ones the Windows tests use, exported as TALLOWIN_TEST_* host:port
# values; TALLOWIN_TEST_PEER_AUTH holds the administrator for its API.
start_test_services() {
  local peers=tests/peers port password
  mkdir -p build/services
  rm -f build/services/inventory.sqlite* build/services/pids
  password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
  echo "$password" | service/tallowin-service add-admin tallowin-test \
    --db "sqlite:///$PWD/build/services/inventory.sqlite" >/dev/null &&
  port=$(start_service build/services/inventory.log service/tallowin-service serve \
           --db "sqlite:///$PWD/build/services/inventory.sqlite" --listen 127.0.0.1:0 --workers 2 \
           --max-seconds 1500 --quiet) &&
    export TALLOWIN_TEST_PEER="127.0.0.1:$port" TALLOWIN_TEST_PEER_AUTH="tallowin-test:$password"
  # The service again over TLS, on a database of its own with one enrollment
  # secret (TALLOWIN_TEST_TLS_SECRET), with a certificate the Wine prefix
  # trusts (TALLOWIN_TEST_TLS) and with one from another CA (..._OTHERCA).
  local tls=build/services/tls db="sqlite:///$PWD/build/services/tls.sqlite" ca secret
  rm -f build/services/tls.sqlite*
  if make_test_certificates && trust_in_wine $tls/trusted-ca.pem &&
     echo "$password" | service/tallowin-service add-admin tallowin-test --db "$db" >/dev/null &&
     secret=$(service/tallowin-service add-secret wintest --db "$db" </dev/null | tail -1); then
    export TALLOWIN_TEST_TLS_SECRET="$secret"
    for ca in trusted other; do
      port=$(start_service build/services/tls-$ca.log service/tallowin-service serve --db "$db" \
               --listen 127.0.0.1:0 --workers 1 --certfile $tls/$ca-server.pem --keyfile $tls/$ca-server.key \
               --max-seconds 1500 --quiet) &&
        export "TALLOWIN_TEST_TLS$([ $ca = other ] && echo _OTHERCA)=https://127.0.0.1:$port"
    done
  fi
  # One process serves every misbehaviour, each on a port of its own (a few
  # over TLS, with the trusted certificate).
  local ready pair
  start_service build/services/faulty.log /usr/bin/python3 $peers/faulty_services.py --max-seconds 1500 \
      --tls $tls/trusted-server.pem $tls/trusted-server.key >/dev/null &&
    ready=$(grep -m1 '^READY ' build/services/faulty.log)
  for pair in ${ready#READY }; do
    export "TALLOWIN_TEST_$(echo "${pair%%=*}" | tr a-z A-Z)=127.0.0.1:${pair#*=}"
  done
}

stop_test_services() {
  [ -f build/services/pids ] && xargs -r kill 2>/dev/null <build/services/pids
  rm -f build/services/pids
}
