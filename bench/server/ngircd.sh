# Sourced by run.sh and route.sh: an IRC server to measure against, when the Debian package
# "ngircd" is installed (nothing here needs it otherwise). Flood penalties and pings are
# off, so that it routes as fast as it can.
#   write_ngircd_config FILE PORT PIDFILE
#   start_ngircd CONFIG PORT OUTPUT   (sets $ngircd_pid; returns once the port listens)
write_ngircd_config() {
    cat > "$1" <<CONF
[Global]
Name = irc.bench.local
Info = bench
Listen = 127.0.0.1
Ports = $2
PidFile = $3
MotdPhrase = bench
[Limits]
MaxConnections = 0
MaxConnectionsIP = 0
MaxJoins = 0
MaxPenaltyTime = 0
PingTimeout = 600
PongTimeout = 600
[Options]
DNS = no
Ident = no
PAM = no
CONF
}

start_ngircd() {
    ngircd -n -f "$1" > "$3" 2>&1 &
    ngircd_pid=$!
    tries=0
    while ! ss -ltnH "sport = :$2" | grep -q .; do
        tries=$((tries + 1))
        if [ $tries -gt 100 ] || ! kill -0 "$ngircd_pid" 2>/dev/null; then
            cat "$3" >&2
            return 1
        fi
        sleep 0.1
    done
}
