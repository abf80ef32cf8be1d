// The virtual scanner's sources come here.
