// the device model library grows here
