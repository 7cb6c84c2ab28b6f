UPDATE `Property` SET `Value` = 'PREVIOUSVERSIONSINSTALLED;NEWERVERSIONDETECTED;OTHERARCHITECTUREINSTALLED;NEWEROTHERARCHITECTURE;WATCH;OSWARNING' WHERE `Property` = 'SecureCustomProperties'
INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('EventSourceKey', 2, 'SYSTEM\CurrentControlSet\Services\EventLog\Application\Brimline', '-', 'EventSource')
