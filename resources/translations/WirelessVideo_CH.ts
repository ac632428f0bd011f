<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>MainPage</name>
    <message>
        <source>The unit is connected, but this user may not use it. Install the udev rule (packaging/60-quorlan.rules) or the Quorlan package, then unplug the unit and plug it in again.</source>
        <translation>设备已插入，但当前用户无权使用。请安装 udev 规则（packaging/60-quorlan.rules）或 Quorlan 软件包，然后拔出设备再重新插入。</translation>
    </message>
    <message>
        <source>Device connected</source>
        <translation>设备已连接</translation>
    </message>
    <message>
        <source>Please connect device</source>
        <translation>请连接设备</translation>
    </message>
    <message>
        <source>Wireless Video Link</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Wireless Video Link (simulated unit)</source>
        <translation>无线图传（模拟设备）</translation>
    </message>
</context>
<context>
    <name>Wireless_Video_Link</name>
    <message>
        <source>An upgrade is running. Closing now stops it part-way and may leave the unit without working firmware until it is upgraded again. Close anyway?</source>
        <translation>正在升级。现在关闭会使升级中途停止，设备在重新升级之前可能没有可用的固件。仍要关闭吗？</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <source>115200b</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>16QAM_1/2 (7.52Mbps)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>57600b</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>9600b</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;1.Put air unit into pairing state;&lt;/p&gt;&lt;p&gt;2.Put ground unit into pairing state;&lt;/p&gt;&lt;p&gt;3.Wait for 10 seconds and power off both units;&lt;/p&gt;&lt;p&gt;4.Power on both units, pairing is successful if there is no error message.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;1.将天空端置于配对状态；&lt;/p&gt;&lt;p&gt;2.将地面端置于配对状态；&lt;/p&gt;&lt;p&gt;3.等待10秒后关闭两端电源；&lt;/p&gt;&lt;p&gt;4.重新给两端上电，如无错误提示则配对成功。&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:10pt; font-weight:600;&quot;&gt;Datalink Interface&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:10pt; font-weight:600;&quot;&gt;数传接口&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:10pt; font-weight:600;&quot;&gt;DownLink&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:10pt; font-weight:600;&quot;&gt;下行速率&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:10pt; font-weight:600;&quot;&gt;Ground Unit Identity&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:10pt; font-weight:600;&quot;&gt;地面端身份&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:10pt; font-weight:600;&quot;&gt;Paring procedure&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:10pt; font-weight:600;&quot;&gt;配对步骤&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:10pt; font-weight:600;&quot;&gt;RC Mode&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:10pt; font-weight:600;&quot;&gt;遥控模式&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:10pt; font-weight:600;&quot;&gt;Uart Baud Rate&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:10pt; font-weight:600;&quot;&gt;串口波特率&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt; font-weight:600;&quot;&gt;Frequency Scanning&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt; font-weight:600;&quot;&gt;频谱扫描&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt; font-weight:600;&quot;&gt;Introduction&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt; font-weight:600;&quot;&gt;简介&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt; font-weight:600;&quot;&gt;Note&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt; font-weight:600;&quot;&gt;注意&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt; font-weight:600;&quot;&gt;Usage&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt; font-weight:600;&quot;&gt;使用说明&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-weight:600;&quot;&gt;Restore default settings&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-weight:600;&quot;&gt;恢复默认设置&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Once the upgrade starts, DO NOT close the program or power off the device.&lt;/p&gt;&lt;p&gt;Air unit MCU firmware MUST be used with air unit baseband firmware, and ground unit MCU firmware MUST be used with ground unit baseband firmware. DO NOT mix the air unit firmware with the ground unit firmware. &lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;升级开始后，请勿关闭程序或给设备断电。&lt;/p&gt;&lt;p&gt;天空端MCU固件必须与天空端基带固件配套使用，地面端MCU固件必须与地面端基带固件配套使用。请勿将天空端固件与地面端固件混用。&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Parameters can not be modified unless the air unit is paired with the ground unit. &lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;天空端与地面端配对后才能修改参数。&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;To upgrade firmware, click on “Browse File” button and locate the firmware file. Click “Upgrade” button to start the upgrading process.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;升级固件时，请点击“浏览文件”按钮选择固件文件，然后点击“升级”按钮开始升级。&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>A_RSSI</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>Air</source>
        <translation>天空端</translation>
    </message>
    <message>
        <source>Air Status</source>
        <translation>天空端状态</translation>
    </message>
    <message>
        <source>Aircraft 0</source>
        <translation>飞行器 0</translation>
    </message>
    <message>
        <source>Aircraft 1</source>
        <translation>飞行器 1</translation>
    </message>
    <message>
        <source>Ant switchover</source>
        <translation>天线切换</translation>
    </message>
    <message>
        <source>Antenna</source>
        <translation>天线</translation>
    </message>
    <message>
        <source>Antenna Test</source>
        <translation>天线测试</translation>
    </message>
    <message>
        <source>Are you sure you want to restore factory settings?</source>
        <translation>确定要恢复默认设置吗?</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>自动</translation>
    </message>
    <message>
        <source>BB TEMP</source>
        <translation>基带温度</translation>
    </message>
    <message>
        <source>BB temperature</source>
        <translation>基带温度</translation>
    </message>
    <message>
        <source>BIND</source>
        <translation>配对</translation>
    </message>
    <message>
        <source>BPSK_1/2 (1.98Mbps)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>BPSK_2/3 (2.64Mbps)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>BPSK_3/4 (2.87Mbps)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>BPSK_5/6 (3.18Mbps)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Band Selection</source>
        <translation>频点选择</translation>
    </message>
    <message>
        <source>Bandrate</source>
        <translation>波特率</translation>
    </message>
    <message>
        <source>Baseband Version</source>
        <translation>基带版本</translation>
    </message>
    <message>
        <source>Binded</source>
        <translation>设备已配对</translation>
    </message>
    <message>
        <source>Browse file</source>
        <translation>浏览文件</translation>
    </message>
    <message>
        <source>Buffer overflow</source>
        <translation>缓冲区溢出</translation>
    </message>
    <message>
        <source>CE</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>COM_BD</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Channel 1 (2412MHz)</source>
        <translation>信道 1 (2412MHz)</translation>
    </message>
    <message>
        <source>Channel 10 (2457MHz)</source>
        <translation>信道 10 (2457MHz)</translation>
    </message>
    <message>
        <source>Channel 11 (2462MHz)</source>
        <translation>信道 11 (2462MHz)</translation>
    </message>
    <message>
        <source>Channel 12 (2467MHz)</source>
        <translation>信道 12 (2467MHz)</translation>
    </message>
    <message>
        <source>Channel 13 (2472MHz)</source>
        <translation>信道 13 (2472MHz)</translation>
    </message>
    <message>
        <source>Channel 14 (2477MHz)</source>
        <translation>信道 14 (2477MHz)</translation>
    </message>
    <message>
        <source>Channel 2 (2417MHz)</source>
        <translation>信道 2 (2417MHz)</translation>
    </message>
    <message>
        <source>Channel 3 (2422MHz)</source>
        <translation>信道 3 (2422MHz)</translation>
    </message>
    <message>
        <source>Channel 4 (2427MHz)</source>
        <translation>信道 4 (2427MHz)</translation>
    </message>
    <message>
        <source>Channel 5 (2432MHz)</source>
        <translation>信道 5 (2432MHz)</translation>
    </message>
    <message>
        <source>Channel 6 (2437MHz)</source>
        <translation>信道 6 (2437MHz)</translation>
    </message>
    <message>
        <source>Channel 7 (2442MHz)</source>
        <translation>信道 7 (2442MHz)</translation>
    </message>
    <message>
        <source>Channel 8 (2447MHz)</source>
        <translation>信道 8 (2447MHz)</translation>
    </message>
    <message>
        <source>Channel 9 (2452MHz)</source>
        <translation>信道 9 (2452MHz)</translation>
    </message>
    <message>
        <source>Channel RSV (2390MHz)</source>
        <translation>保留信道 (2390MHz)</translation>
    </message>
    <message>
        <source>Channel RSV (2495MHz)</source>
        <translation>保留信道 (2495MHz)</translation>
    </message>
    <message>
        <source>Configure</source>
        <translation>配置</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>设备已连接</translation>
    </message>
    <message>
        <source>Ctrl+T</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Current Antenna</source>
        <translation>当前天线</translation>
    </message>
    <message>
        <source>DISTANCE</source>
        <translation>距离</translation>
    </message>
    <message>
        <source>DOWNLink</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Datalink recv</source>
        <translation>数传接收</translation>
    </message>
    <message>
        <source>Datalink send</source>
        <translation>数传发送</translation>
    </message>
    <message>
        <source>Device Type</source>
        <translation>设备类型</translation>
    </message>
    <message>
        <source>DisConnected</source>
        <translation>设备未连接</translation>
    </message>
    <message>
        <source>Distance</source>
        <translation>距离</translation>
    </message>
    <message>
        <source>Downlink</source>
        <translation>下行</translation>
    </message>
    <message>
        <source>Downlink rate</source>
        <translation>下行速率</translation>
    </message>
    <message>
        <source>ETH</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ETH_LOST</source>
        <translation>网口丢包</translation>
    </message>
    <message>
        <source>ETH_RECV</source>
        <translation>网口接收</translation>
    </message>
    <message>
        <source>Ethernet</source>
        <translation>以太网</translation>
    </message>
    <message>
        <source>FCC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>FREQ</source>
        <translation>频点</translation>
    </message>
    <message>
        <source>Firmware Version</source>
        <translation>固件版本</translation>
    </message>
    <message>
        <source>Frequency</source>
        <translation>频率</translation>
    </message>
    <message>
        <source>Frequency (MHz)</source>
        <translation>频率 (MHz)</translation>
    </message>
    <message>
        <source>GITEIK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>GITEIK-High</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>G_RSSI</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ground</source>
        <translation>地面端</translation>
    </message>
    <message>
        <source>Ground Status</source>
        <translation>地面端状态</translation>
    </message>
    <message>
        <source>Group 1</source>
        <translation>第1组</translation>
    </message>
    <message>
        <source>Group 2</source>
        <translation>第2组</translation>
    </message>
    <message>
        <source>HDMI</source>
        <translation>HDMI</translation>
    </message>
    <message>
        <source>Images (*.bin *.hex)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Item</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>LDPC_FAIL</source>
        <translation>LDPC失败</translation>
    </message>
    <message>
        <source>LDPC_Failed</source>
        <translation>LDPC失败</translation>
    </message>
    <message>
        <source>LDPC_PASS</source>
        <translation>LDPC通过</translation>
    </message>
    <message>
        <source>Manual</source>
        <translation>手动</translation>
    </message>
    <message>
        <source>N/A</source>
        <translation>无数据</translation>
    </message>
    <message>
        <source>Observer</source>
        <translation>观察者</translation>
    </message>
    <message>
        <source>Open File</source>
        <translation>打开文件</translation>
    </message>
    <message>
        <source>PA TEMP</source>
        <translation>功放温度</translation>
    </message>
    <message>
        <source>PA temperature</source>
        <translation>功放温度</translation>
    </message>
    <message>
        <source>PPM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Packets Recv</source>
        <translation>接收包数</translation>
    </message>
    <message>
        <source>Packets Send</source>
        <translation>发送包数</translation>
    </message>
    <message>
        <source>Packets discard</source>
        <translation>丢弃包数</translation>
    </message>
    <message>
        <source>Packets retransmit</source>
        <translation>重传包数</translation>
    </message>
    <message>
        <source>Packets submitted</source>
        <translation>提交包数</translation>
    </message>
    <message>
        <source>Pilot</source>
        <translation>飞手</translation>
    </message>
    <message>
        <source>Please don&apos;t power off and try again.</source>
        <translation>请勿断电，然后重试。</translation>
    </message>
    <message>
        <source>Please restart device.</source>
        <translation>请重启设备。</translation>
    </message>
    <message>
        <source>QPSK_1/2 (3.80Mbps)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>QPSK_2/3 (5.04Mbps)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>QPSK_3/4 (5.66Mbps)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>QPSK_5/6 (6.28Mbps)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quorlan</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>RF_POWER</source>
        <translation>射频功率</translation>
    </message>
    <message>
        <source>RF_Power</source>
        <translation>射频功率</translation>
    </message>
    <message>
        <source>RSSI (dBm)</source>
        <translation>信号强度 (dBm)</translation>
    </message>
    <message>
        <source>RSSI 1</source>
        <translation>信号强度 1</translation>
    </message>
    <message>
        <source>RSSI 2</source>
        <translation>信号强度 2</translation>
    </message>
    <message>
        <source>RSSI_1</source>
        <translation>信号强度1</translation>
    </message>
    <message>
        <source>RSSI_2</source>
        <translation>信号强度2</translation>
    </message>
    <message>
        <source>Record statistics</source>
        <translation>记录统计数据</translation>
    </message>
    <message>
        <source>History…</source>
        <translation>历史…</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>恢复</translation>
    </message>
    <message>
        <source>S.Bus</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SNR</source>
        <translation>信噪比</translation>
    </message>
    <message>
        <source>Software Version</source>
        <translation>软件版本</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>TEST</source>
        <translation>测试</translation>
    </message>
    <message>
        <source>TextLabel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>TextLable</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The key may only contain printable ASCII characters</source>
        <translation>密码只能包含可打印的ASCII字符</translation>
    </message>
    <message>
        <source>Tx_Power</source>
        <translation>发射功率</translation>
    </message>
    <message>
        <source>USB</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Uart</source>
        <translation>串口</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>升级</translation>
    </message>
    <message>
        <source>Upgrade</source>
        <translation>升级</translation>
    </message>
    <message>
        <source>Uplink rate</source>
        <translation>上行速率</translation>
    </message>
    <message>
        <source>V3.13</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>VGA</source>
        <translation>VGA增益</translation>
    </message>
    <message>
        <source>Value</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Working Band</source>
        <translation>工作频点</translation>
    </message>
    <message>
        <source>Working Mode</source>
        <translation>工作模式</translation>
    </message>
    <message>
        <source>Working Profile</source>
        <translation>工作配置</translation>
    </message>
    <message>
        <source>Working Region</source>
        <translation>工作区域</translation>
    </message>
    <message>
        <source>disable</source>
        <translation>禁用</translation>
    </message>
    <message>
        <source>enable</source>
        <translation>启用</translation>
    </message>
    <message>
        <source>packet lost</source>
        <translation>丢包率</translation>
    </message>
    <message>
        <source>prompt</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>restore</source>
        <translation>恢复默认设置</translation>
    </message>
    <message>
        <source>unBinded</source>
        <translation>设备未配对</translation>
    </message>
    <message>
        <source>unknow</source>
        <translation>未知</translation>
    </message>
    <message>
        <source>updata starting</source>
        <translation>开始升级</translation>
    </message>
    <message>
        <source>warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>ARQ</source>
        <translation>ARQ重传</translation>
    </message>
    <message>
        <source>Automatic antenna selection</source>
        <translation>天线自动选择</translation>
    </message>
    <message>
        <source>Channel bandwidth</source>
        <translation>信道带宽</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>复制</translation>
    </message>
    <message>
        <source>Copy the debug messages to the clipboard</source>
        <translation>将调试信息复制到剪贴板</translation>
    </message>
    <message>
        <source>Database: %1</source>
        <translation>数据库：%1</translation>
    </message>
    <message>
        <source>Debug log: %1</source>
        <translation>调试日志：%1</translation>
    </message>
    <message>
        <source>Debug log: not kept</source>
        <translation>调试日志：未记录</translation>
    </message>
    <message>
        <source>Down mode</source>
        <translation>下行模式</translation>
    </message>
    <message>
        <source>Save debug messages</source>
        <translation>保存调试信息</translation>
    </message>
    <message>
        <source>Save the debug messages to a file</source>
        <translation>将调试信息保存到文件</translation>
    </message>
    <message>
        <source>Save…</source>
        <translation>保存…</translation>
    </message>
    <message>
        <source>Settings sent to the unit as they are, for service and tests</source>
        <translation>按原样发送给设备的设置，供维修和测试使用</translation>
    </message>
    <message>
        <source>TDD ratio</source>
        <translation>TDD配比</translation>
    </message>
    <message>
        <source>Technician settings</source>
        <translation>技术人员设置</translation>
    </message>
    <message>
        <source>Test downlink</source>
        <translation>测试下行速率</translation>
    </message>
    <message>
        <source>Test mode</source>
        <translation>测试模式</translation>
    </message>
    <message>
        <source>Text files (*.txt);;All files (*)</source>
        <translation>文本文件 (*.txt);;所有文件 (*)</translation>
    </message>
    <message>
        <source>The debug messages could not be saved to %1: %2</source>
        <translation>调试信息无法保存到 %1：%2</translation>
    </message>
    <message>
        <source>The unit takes the number of the entry as it is</source>
        <translation>设备直接使用所选项的序号</translation>
    </message>
    <message>
        <source>Up mode</source>
        <translation>上行模式</translation>
    </message>
    <message>
        <source>Uplink mode</source>
        <translation>上行链路模式</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <translation>%1（%2）</translation>
    </message>
    <message>
        <source>Test page (Ctrl+T)</source>
        <translation>测试页（Ctrl+T）</translation>
    </message>
    <message>
        <source>Switch the language</source>
        <translation>切换语言</translation>
    </message>
    <message>
        <source>Pairing: on while the air and ground units are paired; click to pair</source>
        <translation>配对：天空端与地面端已配对时为开；点击开始配对</translation>
    </message>
    <message>
        <source>Connection: on while a ground unit is connected</source>
        <translation>连接：地面端已连接时为开</translation>
    </message>
    <message>
        <source>Setting confirmed by the unit.</source>
        <translation>设备已确认该设置。</translation>
    </message>
    <message>
        <source>Setting sent to the unit.</source>
        <translation>设置已发送到设备。</translation>
    </message>
    <message>
        <source>The unit rejected the setting; it keeps its previous value, which the page shows again at the next reading.</source>
        <translation>设备拒绝了该设置，保持原来的值；下次读取时页面会重新显示该值。</translation>
    </message>
    <message>
        <source>The unit did not confirm the setting in time; the page shows what it reports.</source>
        <translation>设备未及时确认该设置；页面显示设备报告的值。</translation>
    </message>
    <message>
        <source>The setting did not reach the unit.</source>
        <translation>设置未能送达设备。</translation>
    </message>
    <message>
        <source>Not sent: an upgrade is running.</source>
        <translation>未发送：正在升级。</translation>
    </message>
    <message>
        <source>Not sent: no unit is connected.</source>
        <translation>未发送：未连接设备。</translation>
    </message>
    <message>
        <source>Quorlan (simulated unit)</source>
        <translation>Quorlan（模拟设备）</translation>
    </message>
    <message>
        <source>Simulated unit: nothing you do here reaches real hardware. Use quorlan for a real unit.</source>
        <translation>模拟设备：此处的操作不会到达真实硬件。连接真实设备请使用 quorlan。</translation>
    </message>
    <message>
        <source>Not recording: %1</source>
        <translation>未记录：%1</translation>
    </message>
    <message>
        <source>Recording stopped: %1</source>
        <translation>记录已停止：%1</translation>
    </message>
    <message>
        <source>---- upgrade of %1, %2 ----</source>
        <translation>---- 升级 %1，%2 ----</translation>
    </message>
</context>
<context>
    <name>Encry_Form</name>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:10pt; font-weight:600;&quot;&gt;Encryption&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:10pt; font-weight:600;&quot;&gt;加密&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>AES128</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AES256</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
    <message>
        <source>Key length must be 16</source>
        <translation>密码长度必须为16位</translation>
    </message>
    <message>
        <source>Key length must be 32</source>
        <translation>密码长度必须为32位</translation>
    </message>
    <message>
        <source>Set</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>显示</translation>
    </message>
    <message>
        <source>Show the key as it is typed</source>
        <translation>输入时显示密钥</translation>
    </message>
</context>
<context>
    <name>Binding_Dialog</name>
    <message>
        <source>Bind failed</source>
        <translation>绑定失败</translation>
    </message>
    <message>
        <source>Bind success</source>
        <translation>绑定成功</translation>
    </message>
    <message>
        <source>Binding...</source>
        <translation>绑定中...</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>TextLabel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Bind cancelled</source>
        <translation>已取消配对</translation>
    </message>
    <message>
        <source>%1 s left</source>
        <translation>剩余 %1 秒</translation>
    </message>
</context>
<context>
    <name>AntennaCheck</name>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Note&lt;/p&gt;&lt;p&gt;Please place the AIR unit 5 meters away.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;注意&lt;/p&gt;&lt;p&gt;请将天空端放置在5米以外。&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Air RSSI 0</source>
        <translation>天空端信号强度 0</translation>
    </message>
    <message>
        <source>Air RSSI 1</source>
        <translation>天空端信号强度 1</translation>
    </message>
    <message>
        <source>Antenna test failed.  No readings came from the unit; check that it is connected.</source>
        <translation>天线测试未通过。未收到设备的信号读数，请检查设备是否已连接。</translation>
    </message>
    <message>
        <source>Antenna test failed.  Please check the antenna installation.</source>
        <translation>天线测试未通过。请检查天线安装。</translation>
    </message>
    <message>
        <source>Antenna test passed.</source>
        <translation>天线测试通过</translation>
    </message>
    <message>
        <source>Form</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Gnd RSSI 0</source>
        <translation>地面端信号强度 0</translation>
    </message>
    <message>
        <source>Gnd RSSI 1</source>
        <translation>地面端信号强度 1</translation>
    </message>
    <message>
        <source>Information</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>TEST</source>
        <translation>测试</translation>
    </message>
    <message>
        <source>TextLabel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Warning</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>test 1# antenna</source>
        <translation>测试1#天线</translation>
    </message>
    <message>
        <source>test 2# antenna</source>
        <translation>测试2#天线</translation>
    </message>
</context>
<context>
    <name>updateThread</name>
    <message>
        <source>not a regular file: a pipe, a device or a socket cannot be an image</source>
        <translation>不是普通文件：管道、设备或套接字不能作为固件文件</translation>
    </message>
    <message>
        <source>invalid image: record %1 is too large for %2: %3 bytes, at most %4</source>
        <translation>固件文件无效：第 %1 条记录对 %2 来说太大：%3 字节，最多 %4 字节</translation>
    </message>
    <message>
        <source>image file too large: %1 bytes, at most %2</source>
        <translation>固件文件太大：%1 字节，最多 %2 字节</translation>
    </message>
    <message>
        <source>Upgrade stopped</source>
        <translation>升级已停止</translation>
    </message>
    <message>
        <source>image file too short!</source>
        <translation>固件文件太短！</translation>
    </message>
    <message>
        <source>invalid image: record %1 has unknown type 0x%2</source>
        <translation>固件文件无效：第 %1 条记录的类型 0x%2 未知</translation>
    </message>
    <message>
        <source>invalid image: record %1 has invalid length %2</source>
        <translation>固件文件无效：第 %1 条记录的长度 %2 无效</translation>
    </message>
    <message>
        <source>invalid image: record %1 lies outside the file</source>
        <translation>固件文件无效：第 %1 条记录超出文件范围</translation>
    </message>
    <message>
        <source> error</source>
        <translation> 错误</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>完成</translation>
    </message>
    <message>
        <source>EDID</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Erase failed</source>
        <translation>擦除失败</translation>
    </message>
    <message>
        <source>Erase timeout</source>
        <translation>擦除超时</translation>
    </message>
    <message>
        <source>FPGA</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HI3516</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HI3798</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MCU1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MCU2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Preparation status inquire</source>
        <translation>查询准备状态</translation>
    </message>
    <message>
        <source>Retry %1</source>
        <translation>重试 %1</translation>
    </message>
    <message>
        <source>Upgrade failed</source>
        <translation>升级失败</translation>
    </message>
    <message>
        <source>Upgrade success</source>
        <translation>升级成功</translation>
    </message>
    <message>
        <source>bootloader</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>check data</source>
        <translation>校验数据</translation>
    </message>
    <message>
        <source>data check</source>
        <translation>数据校验</translation>
    </message>
    <message>
        <source>erase</source>
        <translation>擦除</translation>
    </message>
    <message>
        <source>erase status is %1</source>
        <translation>擦除状态为 %1</translation>
    </message>
    <message>
        <source>fifo status inquire</source>
        <translation>查询FIFO状态</translation>
    </message>
    <message>
        <source>file not exist!</source>
        <translation>文件不存在!</translation>
    </message>
    <message>
        <source>file read failed</source>
        <translation>文件读取失败</translation>
    </message>
    <message>
        <source>file system</source>
        <translation>文件系统</translation>
    </message>
    <message>
        <source>get Preparation status timeout</source>
        <translation>获取准备状态超时</translation>
    </message>
    <message>
        <source>get fifo-status timeout</source>
        <translation>获取FIFO状态超时</translation>
    </message>
    <message>
        <source>get hi3798 upgrade result</source>
        <translation>获取HI3798升级结果</translation>
    </message>
    <message>
        <source>get hi3798 upgrade result timeout</source>
        <translation>获取HI3798升级结果超时</translation>
    </message>
    <message>
        <source>hi3798 was not prepared</source>
        <translation>HI3798未就绪</translation>
    </message>
    <message>
        <source>kernel</source>
        <translation>内核</translation>
    </message>
    <message>
        <source>mcu2 open failed</source>
        <translation>MCU2打开失败</translation>
    </message>
    <message>
        <source>mcu2 open success</source>
        <translation>MCU2打开成功</translation>
    </message>
    <message>
        <source>mcu2 reset</source>
        <translation>MCU2复位</translation>
    </message>
    <message>
        <source>mcu2 upgrade</source>
        <translation>MCU2升级</translation>
    </message>
    <message>
        <source>open file error!</source>
        <translation>打开文件错误!</translation>
    </message>
    <message>
        <source>open mcu2 after 4 second</source>
        <translation>4秒后打开MCU2</translation>
    </message>
    <message>
        <source>program failed</source>
        <translation>烧写失败</translation>
    </message>
    <message>
        <source>programe failed</source>
        <translation>烧写失败</translation>
    </message>
    <message>
        <source>programe fpga timeout</source>
        <translation>烧写FPGA超时</translation>
    </message>
    <message>
        <source>programe require</source>
        <translation>请求烧写</translation>
    </message>
    <message>
        <source>programe status inquire</source>
        <translation>查询烧写状态</translation>
    </message>
    <message>
        <source>read file error!</source>
        <translation>读取文件错误!</translation>
    </message>
    <message>
        <source>restart</source>
        <translation>重启</translation>
    </message>
    <message>
        <source>status Inquire</source>
        <translation>状态查询</translation>
    </message>
    <message>
        <source>update</source>
        <translation>升级</translation>
    </message>
    <message>
        <source>update check</source>
        <translation>升级校验</translation>
    </message>
    <message>
        <source>update request timeout</source>
        <translation>升级请求超时</translation>
    </message>
    <message>
        <source>upgrade</source>
        <translation>升级</translation>
    </message>
    <message>
        <source>upgrade failed</source>
        <translation>升级失败</translation>
    </message>
    <message>
        <source>upgrade success</source>
        <translation>升级成功</translation>
    </message>
    <message>
        <source>wait for hi3798 unzip</source>
        <translation>等待HI3798解压</translation>
    </message>
    <message>
        <source>write </source>
        <translation>写入 </translation>
    </message>
    <message>
        <source>write update data</source>
        <translation>写入升级数据</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Entity not found</source>
        <translation>未找到实体</translation>
    </message>
    <message>
        <source>Insufficient memory</source>
        <translation>内存不足</translation>
    </message>
    <message>
        <source>Operation not supported</source>
        <translation>不支持该操作</translation>
    </message>
    <message>
        <source>Operation timed out</source>
        <translation>操作超时</translation>
    </message>
    <message>
        <source>Other error</source>
        <translation>其他错误</translation>
    </message>
    <message>
        <source>Overflow</source>
        <translation>溢出</translation>
    </message>
    <message>
        <source>Pipe error</source>
        <translation>管道错误</translation>
    </message>
    <message>
        <source>Resource busy</source>
        <translation>资源忙</translation>
    </message>
    <message>
        <source>System call interrupted</source>
        <translation>系统调用被中断</translation>
    </message>
    <message>
        <source>usb Access denied</source>
        <translation>USB访问被拒绝</translation>
    </message>
    <message>
        <source>usb Input/output error</source>
        <translation>USB输入/输出错误</translation>
    </message>
    <message>
        <source>usb Invalid parameter</source>
        <translation>USB参数无效</translation>
    </message>
    <message>
        <source>usb device may have been disconnected</source>
        <translation>设备可能已拔出</translation>
    </message>
    <message>
        <source>%1 (%2 bytes)</source>
        <translation>%1（%2 字节）</translation>
    </message>
    <message>
        <source>, </source>
        <translation>、</translation>
    </message>
    <message>
        <source>Targets in this image: %1</source>
        <translation>该固件包含：%1</translation>
    </message>
    <message>
        <source>This image holds no target: nothing would be sent.</source>
        <translation>该固件不包含任何升级目标，不会发送任何数据。</translation>
    </message>
    <message>
        <source>This image would be refused: %1</source>
        <translation>该固件将被拒绝：%1</translation>
    </message>
    <message>
        <source>Upgrade</source>
        <translation>升级</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>not read</source>
        <translation>未读取</translation>
    </message>
    <message>
        <source>air unit</source>
        <translation>天空端</translation>
    </message>
    <message>
        <source>ground unit</source>
        <translation>地面端</translation>
    </message>
    <message>
        <source>unit of unknown type</source>
        <translation>类型未知的设备</translation>
    </message>
    <message>
        <source>Flash this image into the unit?</source>
        <translation>将此固件写入设备吗？</translation>
    </message>
    <message>
        <source>Unit: %1, serial number %2</source>
        <translation>设备：%1，序列号 %2</translation>
    </message>
    <message>
        <source>Firmware: %1</source>
        <translation>固件版本：%1</translation>
    </message>
    <message>
        <source>Baseband: %1</source>
        <translation>基带版本：%1</translation>
    </message>
    <message>
        <source>HI3798: %1</source>
        <translation>HI3798：%1</translation>
    </message>
    <message>
        <source>Image: %1</source>
        <translation>固件文件：%1</translation>
    </message>
    <message>
        <source>Targets: %1</source>
        <translation>升级目标：%1</translation>
    </message>
    <message>
        <source>Keep the unit plugged in and powered until the upgrade has ended.</source>
        <translation>升级结束前请勿拔出设备或断开电源。</translation>
    </message>
    <message>
        <source>The image holds no target; nothing was sent to the unit.</source>
        <translation>该固件不包含任何升级目标，未向设备发送任何数据。</translation>
    </message>
    <message>
        <source>The image was refused; nothing was sent to the unit.</source>
        <translation>该固件被拒绝，未向设备发送任何数据。</translation>
    </message>
    <message>
        <source>preparing</source>
        <translation>准备</translation>
    </message>
    <message>
        <source>erasing</source>
        <translation>擦除</translation>
    </message>
    <message>
        <source>waiting for the erase</source>
        <translation>等待擦除完成</translation>
    </message>
    <message>
        <source>programming</source>
        <translation>写入</translation>
    </message>
    <message>
        <source>checking the data</source>
        <translation>校验数据</translation>
    </message>
    <message>
        <source>%1 failed while %2.</source>
        <translation>%1 在%2时失败。</translation>
    </message>
    <message>
        <source>an image</source>
        <translation>某个固件</translation>
    </message>
    <message>
        <source>The last upgrade did not end: the tool stopped while it was flashing %1 from %2.</source>
        <translation>上次升级没有完成：程序在将 %2 中的 %1 写入设备时停止。</translation>
    </message>
    <message>
        <source>The last upgrade did not end: the tool stopped as it began to flash %1.</source>
        <translation>上次升级没有完成：程序在开始写入 %1 时停止。</translation>
    </message>
    <message>
        <source>It began at %1.</source>
        <translation>升级开始于 %1。</translation>
    </message>
    <message>
        <source>It began at %1 on the unit %2.</source>
        <translation>升级开始于 %1，设备 %2。</translation>
    </message>
    <message>
        <source>The unit may need this upgrade again.</source>
        <translation>设备可能需要重新升级。</translation>
    </message>
</context>
<context>
    <name>HistoryLog</name>
    <message>
        <source>%1 is locked by another program. Try again in a moment.</source>
        <translation>%1 被其他程序锁定，请稍后再试。</translation>
    </message>
    <message>
        <source>%1 is not a statistics log: it is not an SQLite database, or it is damaged.</source>
        <translation>%1 不是统计日志：它不是 SQLite 数据库，或者已损坏。</translation>
    </message>
    <message>
        <source>%1 cannot be read: %2</source>
        <translation>无法读取 %1：%2</translation>
    </message>
    <message>
        <source>%1 does not exist.</source>
        <translation>%1 不存在。</translation>
    </message>
    <message>
        <source>%1 is not a file.</source>
        <translation>%1 不是文件。</translation>
    </message>
    <message>
        <source>There is no table %1 in this file.</source>
        <translation>此文件中没有表 %1。</translation>
    </message>
    <message>
        <source>Table %1 is not a statistics table: it lacks the columns %2.</source>
        <translation>表 %1 不是统计表：缺少列 %2。</translation>
    </message>
</context>
<context>
    <name>HistoryWindow</name>
    <message>
        <source>Statistics history</source>
        <translation>统计历史</translation>
    </message>
    <message>
        <source>The tool&apos;s log</source>
        <translation>本工具的日志</translation>
    </message>
    <message>
        <source>Open the log this tool records into</source>
        <translation>打开本工具记录的日志</translation>
    </message>
    <message>
        <source>Open…</source>
        <translation>打开…</translation>
    </message>
    <message>
        <source>Reload</source>
        <translation>重新加载</translation>
    </message>
    <message>
        <source>Units</source>
        <translation>设备</translation>
    </message>
    <message>
        <source>Unit</source>
        <translation>设备</translation>
    </message>
    <message>
        <source>Rows</source>
        <translation>行数</translation>
    </message>
    <message>
        <source>First</source>
        <translation>最早</translation>
    </message>
    <message>
        <source>Last</source>
        <translation>最晚</translation>
    </message>
    <message>
        <source>Note</source>
        <translation>备注</translation>
    </message>
    <message>
        <source>Recordings</source>
        <translation>记录段</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>开始</translation>
    </message>
    <message>
        <source>End</source>
        <translation>结束</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>时长</translation>
    </message>
    <message>
        <source>Summary</source>
        <translation>摘要</translation>
    </message>
    <message>
        <source>Reset zoom</source>
        <translation>重置缩放</translation>
    </message>
    <message>
        <source>Wheel: zoom · drag: zoom to a span · right click: zoom out</source>
        <translation>滚轮：缩放 · 拖动：放大所选区间 · 右键：缩小</translation>
    </message>
    <message>
        <source>Export CSV…</source>
        <translation>导出 CSV…</translation>
    </message>
    <message>
        <source>Save plot as PNG…</source>
        <translation>保存图表为 PNG…</translation>
    </message>
    <message>
        <source>Open a statistics log</source>
        <translation>打开统计日志</translation>
    </message>
    <message>
        <source>Statistics logs (*.db *.sqlite *.sqlite3);;All files (*)</source>
        <translation>统计日志 (*.db *.sqlite *.sqlite3);;所有文件 (*)</translation>
    </message>
    <message>
        <source>Air RSSI 1</source>
        <translation>天空端 RSSI 1</translation>
    </message>
    <message>
        <source>Air RSSI 2</source>
        <translation>天空端 RSSI 2</translation>
    </message>
    <message>
        <source>Ground RSSI 1</source>
        <translation>地面端 RSSI 1</translation>
    </message>
    <message>
        <source>Ground RSSI 2</source>
        <translation>地面端 RSSI 2</translation>
    </message>
    <message>
        <source>Ground SNR</source>
        <translation>地面端 SNR</translation>
    </message>
    <message>
        <source>Air SNR</source>
        <translation>天空端 SNR</translation>
    </message>
    <message>
        <source>Downlink rate</source>
        <translation>下行速率</translation>
    </message>
    <message>
        <source>Ground loss</source>
        <translation>地面端丢包率</translation>
    </message>
    <message>
        <source>Air loss</source>
        <translation>天空端丢包率</translation>
    </message>
    <message>
        <source>Air 1</source>
        <translation>天空端 1</translation>
    </message>
    <message>
        <source>Air 2</source>
        <translation>天空端 2</translation>
    </message>
    <message>
        <source>Ground 1</source>
        <translation>地面端 1</translation>
    </message>
    <message>
        <source>Ground 2</source>
        <translation>地面端 2</translation>
    </message>
    <message>
        <source>Ground</source>
        <translation>地面端</translation>
    </message>
    <message>
        <source>Air</source>
        <translation>天空端</translation>
    </message>
    <message>
        <source>Downlink</source>
        <translation>下行</translation>
    </message>
    <message>
        <source>RSSI:</source>
        <translation>RSSI：</translation>
    </message>
    <message>
        <source>SNR:</source>
        <translation>SNR：</translation>
    </message>
    <message>
        <source>Rate:</source>
        <translation>速率：</translation>
    </message>
    <message>
        <source>Loss:</source>
        <translation>丢包率：</translation>
    </message>
    <message>
        <source>RSSI (dBm)</source>
        <translation>RSSI (dBm)</translation>
    </message>
    <message>
        <source>SNR (dB)</source>
        <translation>SNR (dB)</translation>
    </message>
    <message>
        <source>Rate (Mbps)</source>
        <translation>速率 (Mbps)</translation>
    </message>
    <message>
        <source>Loss (%)</source>
        <translation>丢包率 (%)</translation>
    </message>
    <message>
        <source>linked</source>
        <translation>已连接</translation>
    </message>
    <message>
        <source>paired, no link</source>
        <translation>已配对，未连接</translation>
    </message>
    <message>
        <source>pairing</source>
        <translation>配对中</translation>
    </message>
    <message>
        <source>not paired</source>
        <translation>未配对</translation>
    </message>
    <message>
        <source>other</source>
        <translation>其他</translation>
    </message>
    <message>
        <source>Link status of the ground and the air unit</source>
        <translation>地面端和天空端的链路状态</translation>
    </message>
    <message>
        <source>Point at the plot to read the values.</source>
        <translation>将鼠标指向图表即可读取数值。</translation>
    </message>
    <message>
        <source>%1   RSSI air %2 / %3 dBm, ground %4 / %5 dBm · SNR ground %6 dB, air %7 dB · downlink %8 Mbps · loss ground %9 %, air %10 % · link ground %11, air %12</source>
        <translation>%1   RSSI 天空端 %2 / %3 dBm，地面端 %4 / %5 dBm · SNR 地面端 %6 dB，天空端 %7 dB · 下行 %8 Mbps · 丢包率 地面端 %9 %，天空端 %10 % · 链路 地面端 %11，天空端 %12</translation>
    </message>
    <message>
        <source> (date assumed)</source>
        <translation>（日期为推测）</translation>
    </message>
    <message>
        <source>%1 h %2 min %3 s</source>
        <translation>%1 小时 %2 分 %3 秒</translation>
    </message>
    <message>
        <source>%1 min %2 s</source>
        <translation>%1 分 %2 秒</translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation>%1 秒</translation>
    </message>
    <message>
        <source>Duration: %1 (%2 rows)</source>
        <translation>时长：%1（%2 行）</translation>
    </message>
    <message>
        <source>Lowest / median RSSI:</source>
        <translation>最低 / 中位 RSSI：</translation>
    </message>
    <message>
        <source>Air unit, path 1</source>
        <translation>天空端，通道 1</translation>
    </message>
    <message>
        <source>Air unit, path 2</source>
        <translation>天空端，通道 2</translation>
    </message>
    <message>
        <source>Ground unit, path 1</source>
        <translation>地面端，通道 1</translation>
    </message>
    <message>
        <source>Ground unit, path 2</source>
        <translation>地面端，通道 2</translation>
    </message>
    <message>
        <source>%1 / %2 dBm</source>
        <translation>%1 / %2 dBm</translation>
    </message>
    <message>
        <source>no reading</source>
        <translation>无读数</translation>
    </message>
    <message>
        <source>Worst loss in one interval:</source>
        <translation>单个间隔内最高丢包率：</translation>
    </message>
    <message>
        <source>Ground unit</source>
        <translation>地面端</translation>
    </message>
    <message>
        <source>Air unit</source>
        <translation>天空端</translation>
    </message>
    <message>
        <source>no blocks counted</source>
        <translation>未统计到数据块</translation>
    </message>
    <message>
        <source>%1 % at %2</source>
        <translation>%1 %，时间 %2</translation>
    </message>
    <message>
        <source>Link drops (ground unit): %1</source>
        <translation>链路中断（地面端）：%1 次</translation>
    </message>
    <message>
        <source>not restored</source>
        <translation>未恢复</translation>
    </message>
    <message>
        <source>restored after %1</source>
        <translation>%1 后恢复</translation>
    </message>
    <message>
        <source>* Date assumed: rows written by an earlier version have no date; they are placed on %1, the day the file was last changed.</source>
        <translation>* 日期为推测：旧版本写入的行没有日期，按文件最后修改日期 %1 显示。</translation>
    </message>
    <message>
        <source>(no serial number)</source>
        <translation>（无序列号）</translation>
    </message>
    <message>
        <source>Nothing has been recorded yet: %1 does not exist. Switch on &quot;Record statistics&quot; on the Status page, or open another log.</source>
        <translation>尚未记录任何数据：%1 不存在。请在状态页打开“记录统计数据”，或打开其他日志。</translation>
    </message>
    <message>
        <source>There are no statistics in this file.</source>
        <translation>此文件中没有统计数据。</translation>
    </message>
    <message>
        <source>None of the tables in this file is a statistics table of this tool.</source>
        <translation>此文件中没有本工具的统计表。</translation>
    </message>
    <message>
        <source>Table: %1</source>
        <translation>表：%1</translation>
    </message>
    <message>
        <source>cannot be read</source>
        <translation>无法读取</translation>
    </message>
    <message>
        <source>not a statistics table</source>
        <translation>不是统计表</translation>
    </message>
    <message>
        <source>Lacks the columns %1.</source>
        <translation>缺少列 %1。</translation>
    </message>
    <message>
        <source>extra columns left aside</source>
        <translation>已忽略多余的列</translation>
    </message>
    <message>
        <source>Columns this tool does not write, left aside: %1.</source>
        <translation>本工具不写入的列，已忽略：%1。</translation>
    </message>
    <message>
        <source>%1 rows were left out: their time could not be read.</source>
        <translation>有 %1 行未显示：无法读取其时间。</translation>
    </message>
    <message>
        <source>This unit has no rows.</source>
        <translation>该设备没有数据行。</translation>
    </message>
    <message>
        <source>Export the recording as CSV</source>
        <translation>将记录段导出为 CSV</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>CSV 文件 (*.csv)</translation>
    </message>
    <message>
        <source>The export would replace the log itself; choose another file.</source>
        <translation>导出将覆盖日志本身，请选择其他文件。</translation>
    </message>
    <message>
        <source>%1 cannot be written: %2</source>
        <translation>无法写入 %1：%2</translation>
    </message>
    <message>
        <source>Saved %1.</source>
        <translation>已保存 %1。</translation>
    </message>
    <message>
        <source>Save the plot as PNG</source>
        <translation>将图表保存为 PNG</translation>
    </message>
    <message>
        <source>PNG images (*.png)</source>
        <translation>PNG 图片 (*.png)</translation>
    </message>
    <message>
        <source>%1 cannot be written.</source>
        <translation>无法写入 %1。</translation>
    </message>
</context>
<context>
    <name>SimControlWindow</name>
    <message>
        <source>Save sample image…</source>
        <translation>保存示例固件…</translation>
    </message>
    <message>
        <source>An image the tool takes (MCU1 and FPGA)…</source>
        <translation>程序可接受的固件（MCU1 和 FPGA）…</translation>
    </message>
    <message>
        <source>An image the tool refuses (cut short)…</source>
        <translation>程序会拒绝的固件（文件不完整）…</translation>
    </message>
    <message>
        <source>Save sample image</source>
        <translation>保存示例固件</translation>
    </message>
    <message>
        <source>Images (*.bin *.hex)</source>
        <translation>固件 (*.bin *.hex)</translation>
    </message>
    <message>
        <source>Not saved: %1</source>
        <translation>未保存：%1</translation>
    </message>
    <message>
        <source>Saved %1.
Choose it on the Update page.</source>
        <translation>已保存 %1。
请在升级页面选择该文件。</translation>
    </message>
    <message>
        <source>Simulated unit</source>
        <translation>模拟设备</translation>
    </message>
    <message>
        <source>Presets</source>
        <translation>预设</translation>
    </message>
    <message>
        <source>2.4 GHz ground unit, healthy link</source>
        <translation>2.4 GHz 地面端，链路良好</translation>
    </message>
    <message>
        <source>weak link</source>
        <translation>弱链路</translation>
    </message>
    <message>
        <source>air unit attached</source>
        <translation>连接天空端</translation>
    </message>
    <message>
        <source>5.8 GHz</source>
        <translation>5.8 GHz</translation>
    </message>
    <message>
        <source>unit rejects settings</source>
        <translation>设备拒绝设置</translation>
    </message>
    <message>
        <source>old firmware</source>
        <translation>旧固件</translation>
    </message>
    <message>
        <source>USB</source>
        <translation>USB</translation>
    </message>
    <message>
        <source>Unplugged</source>
        <translation>未插入</translation>
    </message>
    <message>
        <source>Plug in</source>
        <translation>插入</translation>
    </message>
    <message>
        <source>Attached unit</source>
        <translation>所连设备</translation>
    </message>
    <message>
        <source>Unit</source>
        <translation>设备</translation>
    </message>
    <message>
        <source>Band and model</source>
        <translation>频段与型号</translation>
    </message>
    <message>
        <source>Firmware</source>
        <translation>固件</translation>
    </message>
    <message>
        <source>Hardware variant</source>
        <translation>硬件版本</translation>
    </message>
    <message>
        <source>HI3798 video processor fitted</source>
        <translation>装有 HI3798 视频处理器</translation>
    </message>
    <message>
        <source>Radio link</source>
        <translation>无线链路</translation>
    </message>
    <message>
        <source>Distance</source>
        <translation>距离</translation>
    </message>
    <message>
        <source>Peer unit powered and in reach</source>
        <translation>对端设备已上电且在范围内</translation>
    </message>
    <message>
        <source>Peer unit joins pairing</source>
        <translation>对端设备参与配对</translation>
    </message>
    <message>
        <source>Press the unit&apos;s pairing button</source>
        <translation>按下设备的配对按钮</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Reject next setting</source>
        <translation>拒绝下一个设置</translation>
    </message>
    <message>
        <source>Ignore next setting</source>
        <translation>忽略下一个设置</translation>
    </message>
    <message>
        <source>Reject every setting</source>
        <translation>拒绝所有设置</translation>
    </message>
    <message>
        <source>Accept settings again</source>
        <translation>重新接受设置</translation>
    </message>
    <message>
        <source>Firmware upgrade</source>
        <translation>固件升级</translation>
    </message>
    <message>
        <source>Upgrades fail at</source>
        <translation>升级失败于</translation>
    </message>
    <message>
        <source>Part</source>
        <translation>部件</translation>
    </message>
    <message>
        <source>Model %1: unknown to the tool</source>
        <translation>型号 %1：程序不认识</translation>
    </message>
    <message>
        <source>Model %1: %2 GHz, %3 dBm</source>
        <translation>型号 %1：%2 GHz，%3 dBm</translation>
    </message>
    <message>
        <source>nothing</source>
        <translation>无</translation>
    </message>
    <message>
        <source>Ground unit</source>
        <translation>地面端</translation>
    </message>
    <message>
        <source>Air unit</source>
        <translation>天空端</translation>
    </message>
    <message>
        <source>Extended</source>
        <translation>扩展</translation>
    </message>
    <message>
        <source>Basic</source>
        <translation>基本</translation>
    </message>
    <message>
        <source>Variant %1</source>
        <translation>版本 %1</translation>
    </message>
    <message>
        <source>Nowhere</source>
        <translation>不失败</translation>
    </message>
    <message>
        <source>Erase never finishes</source>
        <translation>擦除一直不完成</translation>
    </message>
    <message>
        <source>Programming reports a failure</source>
        <translation>烧写报告失败</translation>
    </message>
    <message>
        <source>Data check refused</source>
        <translation>数据校验被拒绝</translation>
    </message>
    <message>
        <source>Video processor never ready</source>
        <translation>视频处理器一直未就绪</translation>
    </message>
    <message>
        <source>Data FIFO stays busy</source>
        <translation>数据 FIFO 一直忙</translation>
    </message>
    <message>
        <source>HI3798 result never comes</source>
        <translation>HI3798 结果一直不来</translation>
    </message>
    <message>
        <source>MCU2 gone after its restart</source>
        <translation>MCU2 重启后消失</translation>
    </message>
    <message>
        <source>SN %1, firmware %2.%3.%4
MCU2 word 0x%5, baseband %6</source>
        <translation>序列号 %1，固件 %2.%3.%4
MCU2 字 0x%5，基带 %6</translation>
    </message>
    <message>
        <source>(not needed)</source>
        <translation>（不需要）</translation>
    </message>
    <message>
        <source>Upgrades run through.</source>
        <translation>升级正常进行。</translation>
    </message>
    <message>
        <source>Every upgrade fails here (%1)
until this is set back to &quot;Nowhere&quot;.</source>
        <translation>每次升级都在此处失败（%1），
直到改回“不失败”。</translation>
    </message>
    <message>
        <source>Every upgrade fails here
until this is set back to &quot;Nowhere&quot;.</source>
        <translation>每次升级都在此处失败，
直到改回“不失败”。</translation>
    </message>
    <message>
        <source>Plugged in (%1)</source>
        <translation>已插入（%1）</translation>
    </message>
    <message>
        <source>air unit</source>
        <translation>天空端</translation>
    </message>
    <message>
        <source>ground unit</source>
        <translation>地面端</translation>
    </message>
    <message>
        <source>Swapping the unit...</source>
        <translation>正在更换设备...</translation>
    </message>
    <message>
        <source>Unplug</source>
        <translation>拔出</translation>
    </message>
    <message>
        <source>Pairing...</source>
        <translation>配对中...</translation>
    </message>
    <message>
        <source>Link up on %1 MHz.
Ground unit hears %2 (SNR %3 dB).
Air unit hears %4 (SNR %5 dB).</source>
        <translation>链路已建立，频率 %1 MHz。
地面端接收 %2（信噪比 %3 dB）。
天空端接收 %4（信噪比 %5 dB）。</translation>
    </message>
    <message>
        <source>Link down: the units are not paired.</source>
        <translation>链路断开：设备未配对。</translation>
    </message>
    <message>
        <source>Link down: the peer unit is off or out of reach.</source>
        <translation>链路断开：对端设备未上电或不在范围内。</translation>
    </message>
    <message>
        <source>Link down: too far apart.</source>
        <translation>链路断开：距离太远。</translation>
    </message>
    <message>
        <source>No setting received yet.</source>
        <translation>尚未收到设置。</translation>
    </message>
    <message>
        <source>done</source>
        <translation>完成</translation>
    </message>
    <message>
        <source>rejected</source>
        <translation>被拒绝</translation>
    </message>
    <message>
        <source>ignored</source>
        <translation>被忽略</translation>
    </message>
    <message>
        <source>answered 0x%1</source>
        <translation>应答 0x%1</translation>
    </message>
    <message>
        <source>Last setting: request 0x%1, %2.</source>
        <translation>最后的设置：请求 0x%1，%2。</translation>
    </message>
</context>
</TS>
