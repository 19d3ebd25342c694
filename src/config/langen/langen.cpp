// placeholder until the catalogue tables land
