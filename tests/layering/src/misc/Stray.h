// no layer: a folder the layer list does not name
#pragma once
