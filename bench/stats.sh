# Sourced by the bench scripts: the figures they make of several runs. Each
# reads numbers from standard input, separated by blanks or line ends.

# The median; for an even count, the mean of the two middle numbers, so that
# neither the faster nor the slower half decides it.
median() {
  tr ' ' '\n' | grep -v '^$' | sort -g |
    awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}

# The largest number.
largest() { tr ' ' '\n' | grep -v '^$' | sort -g | tail -1; }
