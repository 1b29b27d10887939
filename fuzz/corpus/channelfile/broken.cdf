[Channels
Channel Type=x
=3
[]
