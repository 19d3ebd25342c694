// placeholder until the secure transport entries land
