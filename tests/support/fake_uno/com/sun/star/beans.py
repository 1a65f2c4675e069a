"""The one UNO structure the bridge makes itself, for the stand-in uno module beside this package."""


class PropertyValue:
    Name = None
    Value = None
