; saved by hand
[Other]
Key=Value

[channels]
channel type = 2
Crest Height="450"
[Channels]
Channel Type=9
