# The event-log entries a program reported under Wine, one per line:
#   "<id> <type> <insertion string or ->"
# <type>: error, warning, information, success, audit-success, audit-failure or unknown.
# Wine stores no events; it traces them. Needs WINEDEBUG with fixme+advapi (the stub line of
# ReportEventA gives type and id in hex) and +eventlog (the insertion string, traced by
# ReportEventW). Usage: awk -f qxr_events.awk TRACE...
function hex(s,    i, c, v) {
    v = 0
    s = tolower(substr(s, 3))
    for (i = 1; i <= length(s); i++) {
        c = index("0123456789abcdef", substr(s, i, 1)) - 1
        v = v * 16 + c
    }
    return v
}
/fixme:advapi:ReportEventA \(/ {
    if (pending != "") print pending " -"
    split($0, f, ",")
    type = hex(f[2]); id = hex(f[4]); count = hex(f[6])
    pending = id " " (type == 1 ? "error" : type == 2 ? "warning" : type == 4 ? "information" : \
        type == 0 ? "success" : type == 8 ? "audit-success" : type == 16 ? "audit-failure" : "unknown")
    if (count == 0) { print pending " -"; pending = "" }
    next
}
/:eventlog:ReportEventW L"/ && pending != "" {
    s = $0; sub(/.*ReportEventW L"/, "", s); sub(/"$/, "", s)
    print pending " " s; pending = ""
}
END { if (pending != "") print pending " -" }
