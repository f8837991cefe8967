# Turns `tarnel-cli --help` into the COMMANDS section of tarnel-cli(1), so the
# manual lists exactly the commands and options of the program it ships with.
# The help text gives, per command, its usage lines ("  tarnel-cli NAME ...",
# continued by deeper lines that open with "[") and then its description
# (lines indented by six spaces). POSIX awk: mawk is Debian's default.

function roff(text) {
    gsub(/\\/, "\\e", text)
    gsub(/-/, "\\-", text)
    if (text ~ /^[.']/) text = "\\&" text
    return text
}

# The heading of a usage line: the command and, for a command made of
# subcommands, the subcommand ("gif encode"); arguments are in capitals.
function heading(line,    n, word) {
    n = split(line, word, " ")
    if (n >= 3 && word[3] ~ /^[a-z][a-z0-9-]*$/) return word[2] " " word[3]
    return word[2]
}

function flushDescription() {
    if (description != "") print roff(description)
    description = ""
}

function endUsage() {
    if (inUsage) print ".fi"
    inUsage = 0
}

/^commands:/ { listing = 1; next }
!listing { next }

/^  tarnel-cli / {
    name = heading($0)
    if (name != current) {
        endUsage()
        flushDescription()
        print ".SS " roff(name)
        current = name
        count++
    } else if (!inUsage) {
        flushDescription()
    }
    if (!inUsage) { print ".PP"; print ".nf"; inUsage = 1 }
    line = substr($0, 3)
    # The command words in bold, the rest as written.
    prefix = "tarnel-cli " name
    print "\\fB" roff(prefix) "\\fR" roff(substr(line, length(prefix) + 1))
    next
}

inUsage && /^       *\[/ {
    print roff(substr($0, 3))
    next
}

/^      [^ ]/ {
    endUsage()
    if (description == "") print ".PP"
    text = $0
    sub(/^ +/, "", text)
    description = description == "" ? text : description " " text
    next
}

/^[ \t]*$/ { next }

{
    print "commands.awk: unexpected help line: " $0 > "/dev/stderr"
    failed = 1
    exit 1
}

END {
    if (failed) exit 1
    endUsage()
    flushDescription()
    if (count == 0) {
        print "commands.awk: no commands in the help text" > "/dev/stderr"
        exit 1
    }
}
