[Channels]
Channel Type=4
Notch Angle=90
Crest Height=300
Channel Width=1200
Notch Width=500
