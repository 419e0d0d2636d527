<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>CAboutDlg</name>
    <message>
        <source>%1 %2 Build %3</source>
        <translation>%1 %2 Build %3</translation>
    </message>
    <message>
        <source>%1 Version: %2. %3. %4. %5</source>
        <translation>%1, Version %2. %3. %4. %5</translation>
    </message>
    <message>
        <source>KOVA Library</source>
        <translation>KOVA-Bibliothek</translation>
    </message>
    <message>
        <source>Copyright (C) 2026 Veltrona</source>
        <translation>Copyright (C) 2026 Veltrona</translation>
    </message>
</context>
<context>
    <name>CAccountPageDlg</name>
    <message>
        <source>New Password</source>
        <translation>Neues Passwort</translation>
    </message>
</context>
<context>
    <name>CAuthenticationDlg</name>
    <message>
        <source>Admin ID is required</source>
        <translation>Administrator-ID erforderlich</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
</context>
<context>
    <name>CBindIpDlg</name>
    <message>
        <source>IP List</source>
        <translation>IP-Liste</translation>
    </message>
    <message>
        <source>The local address that the next scan uses</source>
        <translation>Die lokale Adresse, die die nächste Suche verwendet</translation>
    </message>
</context>
<context>
    <name>CDeviceListCtrl</name>
    <message>
        <source>Invalid data</source>
        <translation>Ungültige Daten</translation>
    </message>
    <message>
        <source>%1 on %2</source>
        <translation>%1 über %2</translation>
    </message>
</context>
<context>
    <name>CHostNamePageDlg</name>
    <message>
        <source>Host Name</source>
        <translation>Hostname</translation>
    </message>
    <message>
        <source>Domain Name</source>
        <translation>Domänenname</translation>
    </message>
    <message>
        <source>Model Name</source>
        <translation>Modellname</translation>
    </message>
</context>
<context>
    <name>CIPAddressCtrl</name>
    <message>
        <source>%1, part %2 of %3</source>
        <translation>%1, Teil %2 von %3</translation>
    </message>
</context>
<context>
    <name>CNetworkPageDlg</name>
    <message>
        <source>%1 has a blank field among filled ones; it would be sent as 0.</source>
        <translation>%1 hat ein leeres Feld neben ausgefüllten; es würde als 0 gesendet.</translation>
    </message>
    <message>
        <source>IP Address</source>
        <translation>IP-Adresse</translation>
    </message>
    <message>
        <source>Gateway</source>
        <translation>Gateway</translation>
    </message>
    <message>
        <source>Net Mask</source>
        <translation>Netzmaske</translation>
    </message>
    <message>
        <source>DNS Server</source>
        <translation>DNS-Server</translation>
    </message>
    <message>
        <source>Username</source>
        <translation>Benutzername</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>Service Name</source>
        <translation>Dienstname</translation>
    </message>
    <message>
        <source>MTU</source>
        <translation>MTU</translation>
    </message>
</context>
<context>
    <name>CSettingPageDlg</name>
    <message>
        <source>Error : initialising kova...</source>
        <translation>Fehler beim Initialisieren von KOVA ...</translation>
    </message>
    <message>
        <source>%1 answered from %2: the change may reach another device with the same MAC address, or go out on the wrong network. Choose the network with Bind IP and scan again.</source>
        <translation>%1 hat von %2 geantwortet: Die Änderung könnte ein anderes Gerät mit derselben MAC-Adresse erreichen oder im falschen Netzwerk gesendet werden. Wählen Sie das Netzwerk mit „IP binden“ und suchen Sie erneut.</translation>
    </message>
    <message>
        <source> and </source>
        <translation> und </translation>
    </message>
    <message>
        <source>Check this change before it is sent:</source>
        <translation>Bitte prüfen Sie diese Änderung vor dem Senden:</translation>
    </message>
    <message>
        <source>Nothing has been sent. Go back and correct it, or send it anyway?</source>
        <translation>Es wurde nichts gesendet. Zurückgehen und korrigieren oder trotzdem senden?</translation>
    </message>
    <message>
        <source>Go Back</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>Send Anyway</source>
        <translation>Trotzdem senden</translation>
    </message>
    <message>
        <source>The gateway %1</source>
        <translation>Das Gateway %1</translation>
    </message>
    <message>
        <source>The DNS server %1</source>
        <translation>Der DNS-Server %1</translation>
    </message>
    <message>
        <source>%1 on %2</source>
        <translation>%1 über %2</translation>
    </message>
    <message>
        <source>%1 is in 0.0.0.0/8, not a device address.</source>
        <translation>%1 liegt in 0.0.0.0/8 und ist keine Geräteadresse.</translation>
    </message>
    <message>
        <source>%1 is the broadcast address, not a device address.</source>
        <translation>%1 ist die Broadcast-Adresse, keine Geräteadresse.</translation>
    </message>
    <message>
        <source>%1 is a loopback address.</source>
        <translation>%1 ist eine Loopback-Adresse.</translation>
    </message>
    <message>
        <source>%1 is a multicast address.</source>
        <translation>%1 ist eine Multicast-Adresse.</translation>
    </message>
    <message>
        <source>%1 is a reserved address.</source>
        <translation>%1 ist eine reservierte Adresse.</translation>
    </message>
    <message>
        <source>%1 is the network address of the subnet %2.</source>
        <translation>%1 ist die Netzadresse des Subnetzes %2.</translation>
    </message>
    <message>
        <source>%1 is the broadcast address of the subnet %2.</source>
        <translation>%1 ist die Broadcast-Adresse des Subnetzes %2.</translation>
    </message>
    <message>
        <source>%1 is not a netmask.</source>
        <translation>%1 ist keine Netzmaske.</translation>
    </message>
    <message>
        <source>%1 is not a netmask: its one bits must come first, without a gap.</source>
        <translation>%1 ist keine Netzmaske: Ihre Einsen müssen ohne Lücke vorne stehen.</translation>
    </message>
    <message>
        <source>The gateway %1 is outside the subnet %2.</source>
        <translation>Das Gateway %1 liegt außerhalb des Subnetzes %2.</translation>
    </message>
    <message>
        <source>The gateway %1 is the device&apos;s own new address.</source>
        <translation>Das Gateway %1 ist die neue Adresse des Geräts selbst.</translation>
    </message>
    <message>
        <source>this host</source>
        <translation>dieser Rechner</translation>
    </message>
    <message>
        <source>not a KOVA device</source>
        <translation>kein KOVA-Gerät</translation>
    </message>
    <message>
        <source>%1 is held by the device %2.</source>
        <translation>%1 ist vom Gerät %2 belegt.</translation>
    </message>
    <message>
        <source>%1 is held by the device %2 (%3).</source>
        <translation>%1 ist vom Gerät %2 (%3) belegt.</translation>
    </message>
    <message>
        <source>%1 answered from two addresses on one network (%2 and %3): the change could reach either device.</source>
        <translation>%1 hat in einem Netz von zwei Adressen geantwortet (%2 und %3): Die Änderung könnte jedes der beiden Geräte erreichen.</translation>
    </message>
    <message>
        <source>%1 is outside the networks of %2 (%3), where the device was heard: it could not be reached there.</source>
        <translation>%1 liegt außerhalb der Netze von %2 (%3), über das das Gerät gehört wurde: Dort wäre es nicht erreichbar.</translation>
    </message>
    <message>
        <source>The domain name holds a control character.</source>
        <translation>Der Domänenname enthält ein Steuerzeichen.</translation>
    </message>
    <message>
        <source>The host name holds a control character.</source>
        <translation>Der Hostname enthält ein Steuerzeichen.</translation>
    </message>
    <message>
        <source>The host name starts with &apos;%1&apos;, which spreadsheets take for a formula.</source>
        <translation>Der Hostname beginnt mit „%1“, was Tabellenkalkulationen für eine Formel halten.</translation>
    </message>
    <message>
        <source>This change cannot be sent as it stands.</source>
        <translation>Diese Änderung kann so nicht gesendet werden.</translation>
    </message>
</context>
<context>
    <name>CVeltronaApp</name>
    <message>
        <source>Windows sockets initialization failed.</source>
        <translation>Die Netzwerk-Sockets konnten nicht initialisiert werden.</translation>
    </message>
</context>
<context>
    <name>CVeltronaDlg</name>
    <message>
        <source>About ...</source>
        <translation>Über ...</translation>
    </message>
    <message>
        <source>&amp;Move</source>
        <translation>&amp;Verschieben</translation>
    </message>
    <message>
        <source>Mi&amp;nimize</source>
        <translation>Mi&amp;nimieren</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Schließen</translation>
    </message>
    <message>
        <source>Error : initialising kova...</source>
        <translation>Fehler beim Initialisieren von KOVA ...</translation>
    </message>
    <message>
        <source>Bind to %1</source>
        <translation>Gebunden an %1</translation>
    </message>
    <message>
        <source>Use original setting: %1</source>
        <translation>Bisherige Einstellung bleibt: %1</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Minimize</source>
        <translation>Minimieren</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Devices</source>
        <translation>Geräte</translation>
    </message>
    <message>
        <source>Scan</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>Devices that answered the last scan. Double-click a row to change its settings, right double-click it to open its web page.</source>
        <translation>Geräte, die auf die letzte Suche geantwortet haben. Doppelklick auf eine Zeile ändert ihre Einstellungen, Doppelklick mit der rechten Maustaste öffnet ihre Webseite.</translation>
    </message>
    <message>
        <source>Lists the devices on the local network for five seconds</source>
        <translation>Listet fünf Sekunden lang die Geräte im lokalen Netzwerk auf</translation>
    </message>
    <message>
        <source>Chooses the local address that the next scan uses</source>
        <translation>Wählt die lokale Adresse, die die nächste Suche verwendet</translation>
    </message>
</context>
<context>
    <name>DeviceRow</name>
    <message>
        <source>Type</source>
        <translation>Typ</translation>
    </message>
    <message>
        <source>IP Address</source>
        <translation>IP-Adresse</translation>
    </message>
    <message>
        <source>MAC Address</source>
        <translation>MAC-Adresse</translation>
    </message>
    <message>
        <source>Model</source>
        <translation>Modell</translation>
    </message>
    <message>
        <source>SN</source>
        <translation>SN</translation>
    </message>
    <message>
        <source>FW</source>
        <translation>FW</translation>
    </message>
    <message>
        <source>Web</source>
        <translation>Web</translation>
    </message>
    <message>
        <source>AV1</source>
        <translation>AV1</translation>
    </message>
    <message>
        <source>AV2</source>
        <translation>AV2</translation>
    </message>
    <message>
        <source>Conf</source>
        <translation>Konf.</translation>
    </message>
    <message>
        <source>Hostname</source>
        <translation>Hostname</translation>
    </message>
    <message>
        <source>Protocol Type mismatched!</source>
        <translation>Protokolltyp passt nicht!</translation>
    </message>
    <message>
        <source>Authentication Failed!</source>
        <translation>Authentifizierung fehlgeschlagen!</translation>
    </message>
    <message>
        <source>Update failed! Try later...</source>
        <translation>Aktualisierung fehlgeschlagen! Bitte später erneut versuchen ...</translation>
    </message>
    <message>
        <source>Success</source>
        <translation>Erfolgreich</translation>
    </message>
    <message>
        <source>Update failed! Unknown error...</source>
        <translation>Aktualisierung fehlgeschlagen! Unbekannter Fehler ...</translation>
    </message>
</context>
<context>
    <name>DialogTemplate</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Scan</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>Change Setting...</source>
        <translation>Einstellungen...</translation>
    </message>
    <message>
        <source>Clear Table</source>
        <translation>Liste leeren</translation>
    </message>
    <message>
        <source>Bind IP</source>
        <translation>IP binden</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Übernehmen</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Zurücksetzen</translation>
    </message>
    <message>
        <source>DHCP</source>
        <translation>DHCP</translation>
    </message>
    <message>
        <source>Static IP</source>
        <translation>Statisch</translation>
    </message>
    <message>
        <source>PPPOE</source>
        <translation>PPPoE</translation>
    </message>
    <message>
        <source>Network Configuration</source>
        <translation>Netzwerkkonfiguration</translation>
    </message>
    <message>
        <source>IP Address : </source>
        <translation>IP-Adresse:</translation>
    </message>
    <message>
        <source>Gateway : </source>
        <translation>Gateway:</translation>
    </message>
    <message>
        <source>DNS Server :</source>
        <translation>DNS-Server:</translation>
    </message>
    <message>
        <source>Net Mask :</source>
        <translation>Netzmaske:</translation>
    </message>
    <message>
        <source>Network Type</source>
        <translation>Netzwerktyp</translation>
    </message>
    <message>
        <source>Username :</source>
        <translation>Benutzer:</translation>
    </message>
    <message>
        <source>Password :</source>
        <translation>Passwort:</translation>
    </message>
    <message>
        <source>Service Name :</source>
        <translation>Dienstname:</translation>
    </message>
    <message>
        <source>MTU :</source>
        <translation>MTU:</translation>
    </message>
    <message>
        <source>Automatic DNS</source>
        <translation>DNS autom.</translation>
    </message>
    <message>
        <source>Manual DNS</source>
        <translation>DNS manuell</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>New Password : </source>
        <translation>Neues Passwort:</translation>
    </message>
    <message>
        <source>Account Setting</source>
        <translation>Kontoeinstellungen</translation>
    </message>
    <message>
        <source>Allow Guest Account</source>
        <translation>Gastkonto zulassen</translation>
    </message>
    <message>
        <source>Static</source>
        <translation>Statisch</translation>
    </message>
    <message>
        <source>Host Name : </source>
        <translation>Hostname:</translation>
    </message>
    <message>
        <source>Domain Name : </source>
        <translation>Domänenname:</translation>
    </message>
    <message>
        <source>Model Name : </source>
        <translation>Modellname:</translation>
    </message>
    <message>
        <source>Network</source>
        <translation>Netzwerk</translation>
    </message>
    <message>
        <source>Host Name</source>
        <translation>Hostname</translation>
    </message>
    <message>
        <source>Account</source>
        <translation>Konto</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>ID : </source>
        <translation>ID:</translation>
    </message>
    <message>
        <source>Password : </source>
        <translation>Passwort:</translation>
    </message>
    <message>
        <source>IP List</source>
        <translation>IP-Liste</translation>
    </message>
    <message>
        <source>Setting Page</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Authentication</source>
        <translation>Authentifizierung</translation>
    </message>
    <message>
        <source>Binding your IP</source>
        <translation>IP-Adresse binden</translation>
    </message>
</context>
</TS>
