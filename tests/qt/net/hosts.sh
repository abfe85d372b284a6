# Test hosts of our own: network namespaces on one private bridge, each with its own host name
# and /etc/hosts, so two complete instances (and Samba servers) can meet as on a LAN. Nothing
# leaves the machine: the hosts have no route but their own segment.
# shellcheck shell=bash

ZM_NET_PREFIX=${ZM_NET_PREFIX:-zm$$}
ZM_NET_SUBNET=${ZM_NET_SUBNET:-10.231.$(($$ % 200 + 20))}
ZM_NET_DIR=${ZM_NET_DIR:-$(mktemp -d)}
# Samba reads its browse list as the guest user, who must be able to get there.
chmod 755 "$ZM_NET_DIR"
ZM_NET_HOSTS=()

# zm_net_up NAME... : one namespace per name, addresses .2, .3, ... on the segment.
zm_net_up() {
  local sw="${ZM_NET_PREFIX}sw" i=2 name ns
  ip netns add "$sw"
  ip -n "$sw" link add br0 type bridge
  ip -n "$sw" link set br0 up
  : >"$ZM_NET_DIR/hosts"
  echo "127.0.0.1 localhost" >>"$ZM_NET_DIR/hosts"
  for name in "$@"; do
    ns="${ZM_NET_PREFIX}${name}"
    ip netns add "$ns"
    ip link add "v$ns" type veth peer name eth0 netns "$ns"
    ip link set "v$ns" netns "$sw"
    ip -n "$sw" link set "v$ns" master br0 up
    ip -n "$ns" link set lo up
    ip -n "$ns" addr add "$ZM_NET_SUBNET.$i/24" brd "$ZM_NET_SUBNET.255" dev eth0
    ip -n "$ns" link set eth0 up
    echo "$ZM_NET_SUBNET.$i $name" >>"$ZM_NET_DIR/hosts"
    ZM_NET_HOSTS+=("$name")
    i=$((i + 1))
  done
}

zm_net_addr() {
  awk -v n="$1" '$2 == n { print $1 }' "$ZM_NET_DIR/hosts"
}

# zm_on NAME command... : runs a command on a host (its namespace, host name and /etc/hosts).
zm_on() {
  local name=$1
  shift
  ip netns exec "${ZM_NET_PREFIX}${name}" unshare --uts --mount --propagation private \
    sh -c 'hostname "$1" && mount --bind "$2" /etc/hosts && shift 2 && exec "$@"' zm-host "$name" "$ZM_NET_DIR/hosts" "$@"
}

zm_net_down() {
  local name pid
  for name in "${ZM_NET_HOSTS[@]}"; do
    # Whatever still runs on a host ends with it.
    for pid in $(ip netns pids "${ZM_NET_PREFIX}${name}" 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
  done
  sleep 0.2
  for name in "${ZM_NET_HOSTS[@]}"; do
    for pid in $(ip netns pids "${ZM_NET_PREFIX}${name}" 2>/dev/null); do kill -9 "$pid" 2>/dev/null || true; done
    ip netns del "${ZM_NET_PREFIX}${name}" 2>/dev/null || true
  done
  ip netns del "${ZM_NET_PREFIX}sw" 2>/dev/null || true
  ZM_NET_HOSTS=()
}

# zm_samba NAME WORKGROUP [master] : a Samba server (smbd and nmbd) on a host, all its state
# under the test's directory.
zm_samba() {
  local name=$1 wg=$2 master=${3:-} dir="$ZM_NET_DIR/samba-$1"
  mkdir -p "$dir"/{private,lock,state,cache,run,log,share}
  cat >"$dir/smb.conf" <<CONF
[global]
  workgroup = $wg
  netbios name = ${name^^}
  server string = Zumelko test server $name
  interfaces = eth0
  bind interfaces only = yes
  server role = standalone server
  server min protocol = NT1
  lanman auth = no
  map to guest = Bad User
  load printers = no
  disable spoolss = yes
  name resolve order = bcast
  local master = $([ -n "$master" ] && echo yes || echo no)
  preferred master = $([ -n "$master" ] && echo yes || echo no)
  os level = $([ -n "$master" ] && echo 65 || echo 0)
  domain master = no
  private dir = $dir/private
  lock directory = $dir/lock
  state directory = $dir/state
  cache directory = $dir/cache
  pid directory = $dir/run
  ncalrpc dir = $dir/run/ncalrpc
  log file = $dir/log/%m.log
  usershare path =
  log level = ${ZM_SAMBA_LOG_LEVEL:-0}
[share]
  path = $dir/share
  guest ok = yes
CONF
  zm_on "$name" smbd -D -s "$dir/smb.conf"
  zm_on "$name" nmbd -D -s "$dir/smb.conf"
}

# A client configuration for libsmbclient on a host (put it where HOME/.smb/ points). Browse
# lists are served over SMB1 only, so the client speaks it, as desktops that browse do.
zm_smb_client_home() {
  local name=$1 wg=$2 home="$ZM_NET_DIR/home-$1"
  mkdir -p "$home/.smb" "$home"/{lock,state,cache,private}
  # Its own caches too: the system's would remember names from earlier test hosts.
  cat >"$home/.smb/smb.conf" <<CONF
[global]
  workgroup = $wg
  client min protocol = NT1
  client max protocol = NT1
  name resolve order = bcast
  interfaces = eth0
  lock directory = $home/lock
  state directory = $home/state
  cache directory = $home/cache
  private dir = $home/private
CONF
  echo "$home"
}
