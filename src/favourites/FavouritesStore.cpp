// placeholder until this layer lands
