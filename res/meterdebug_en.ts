<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>CMSComm</name>
    <message>
        <source>无法打开%1：正在连接</source>
        <translation>cannot open %1: a connection is under way</translation>
    </message>
    <message>
        <source>串口 COM%1</source>
        <translation>serial port COM%1</translation>
    </message>
    <message>
        <source>串口 COM%1（%2）</source>
        <translation>serial port COM%1 (%2)</translation>
    </message>
    <message>
        <source>%1 不接受设置“%2”</source>
        <translation>Settings &quot;%2&quot; refused by %1</translation>
    </message>
    <message>
        <source>%1 不接受设置“%2”：%3</source>
        <translation>Settings &quot;%2&quot; refused by %1: %3</translation>
    </message>
    <message>
        <source>设备不支持该校验位</source>
        <translation>the device does not support this parity</translation>
    </message>
    <message>
        <source>串口 COM%1 无效：端口号应从 1 开始</source>
        <translation>Serial port COM%1 is invalid: port numbers start at 1</translation>
    </message>
    <message>
        <source>无法打开%1：设备不存在</source>
        <translation>Cannot open %1: no such device</translation>
    </message>
    <message>
        <source>无法打开%1：不是串口设备</source>
        <translation>Cannot open %1: not a serial device</translation>
    </message>
    <message>
        <source>无法打开%1：串口已被占用或无权访问</source>
        <translation>Cannot open %1: port busy or access denied</translation>
    </message>
    <message>
        <source>无法打开%1：没有访问该设备的权限（%2）</source>
        <translation>Cannot open %1: no permission to use the device (%2)</translation>
    </message>
    <message>
        <source>无法打开%1：串口已被其他程序占用</source>
        <translation>Cannot open %1: the port is in use by another program</translation>
    </message>
    <message>
        <source>无法打开%1：设备不是串口或不接受设置“%2”（%3）</source>
        <translation>Cannot open %1: not a serial port, or settings &quot;%2&quot; refused (%3)</translation>
    </message>
    <message>
        <source>无法打开%1：%2</source>
        <translation>Cannot open %1: %2</translation>
    </message>
    <message>
        <source>设备句柄已失效</source>
        <translation>the device handle is no longer valid</translation>
    </message>
    <message>
        <source>线路已挂断，设备已拔出或已关闭</source>
        <translation>the line hung up; the device was unplugged or closed</translation>
    </message>
    <message>
        <source>设备报告错误</source>
        <translation>the device reported an error</translation>
    </message>
    <message>
        <source>%1 已断开：%2</source>
        <translation>Lost %1: %2</translation>
    </message>
    <message>
        <source>%1 未打开，无法发送</source>
        <translation>Cannot send: %1 is not open</translation>
    </message>
    <message>
        <source>%1 发送失败：%2</source>
        <translation>Sending on %1 failed: %2</translation>
    </message>
</context>
<context>
    <name>SaveFile</name>
    <message>
        <source>无法写入文件 %1：%2</source>
        <translation>Cannot write the file %1: %2</translation>
    </message>
</context>
<context>
    <name>md::ScriptCommand</name>
    <message>
        <source>读数据不成功</source>
        <translation>Read data failed</translation>
    </message>
</context>
<context>
    <name>md::SerialControl</name>
    <message>
        <source>串口已关闭</source>
        <translation>The serial port is closed</translation>
    </message>
</context>
<context>
    <name>md::ui::BusWindow</name>
    <message>
        <source>请输入地址，例如 1,3,5-8</source>
        <translation>Type the addresses, such as 1,3,5-8</translation>
    </message>
    <message>
        <source>地址列表中有空项</source>
        <translation>the list has an empty item</translation>
    </message>
    <message>
        <source>“%1”不是地址或地址范围</source>
        <translation>&quot;%1&quot; is no address or range of addresses</translation>
    </message>
    <message>
        <source>“%1”超出地址范围 1 到 247</source>
        <translation>&quot;%1&quot; lies outside the addresses 1 to 247</translation>
    </message>
    <message>
        <source>“%1”的范围首尾颠倒</source>
        <translation>the range &quot;%1&quot; runs backwards</translation>
    </message>
    <message>
        <source>未开始</source>
        <translation>Not started</translation>
    </message>
    <message>
        <source>多表巡检</source>
        <translation>Meters on the bus</translation>
    </message>
    <message>
        <source>地址:</source>
        <translation>Addresses:</translation>
    </message>
    <message>
        <source>例如 1,3,5-8</source>
        <translation>such as 1,3,5-8</translation>
    </message>
    <message>
        <source>仪表地址列表</source>
        <translation>Meter addresses</translation>
    </message>
    <message>
        <source>间隔:</source>
        <translation>Interval:</translation>
    </message>
    <message>
        <source> 秒</source>
        <translation> s</translation>
    </message>
    <message>
        <source>巡检间隔（秒）</source>
        <translation>Interval between cycles (s)</translation>
    </message>
    <message>
        <source>开始巡检</source>
        <translation>Start polling</translation>
    </message>
    <message>
        <source>停止巡检</source>
        <translation>Stop polling</translation>
    </message>
    <message>
        <source>地址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>A相电流</source>
        <translation>Ia</translation>
    </message>
    <message>
        <source>B相电流</source>
        <translation>Ib</translation>
    </message>
    <message>
        <source>C相电流</source>
        <translation>Ic</translation>
    </message>
    <message>
        <source>小数点</source>
        <translation>Decimals</translation>
    </message>
    <message>
        <source>成功次数</source>
        <translation>Successes</translation>
    </message>
    <message>
        <source>失败次数</source>
        <translation>Failures</translation>
    </message>
    <message>
        <source>误码率</source>
        <translation>Error rate</translation>
    </message>
    <message>
        <source>响应(ms)</source>
        <translation>Response (ms)</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>State</translation>
    </message>
    <message>
        <source>总线上的仪表</source>
        <translation>Meters on the bus</translation>
    </message>
    <message>
        <source>巡检状态</source>
        <translation>Polling state</translation>
    </message>
    <message>
        <source>已取得查找到的 %1 台仪表，按“开始巡检”开始</source>
        <translation>%1 meters taken from the scan; press &quot;Start polling&quot; to poll them</translation>
    </message>
    <message>
        <source>地址列表有误：%1</source>
        <translation>Address list refused: %1</translation>
    </message>
    <message>
        <source>正在巡检</source>
        <translation>Polling</translation>
    </message>
    <message>
        <source>已停止巡检</source>
        <translation>Polling stopped</translation>
    </message>
    <message>
        <source>主窗口开始读测量数据，巡检已停止</source>
        <translation>The main window started measuring; polling stopped</translation>
    </message>
    <message>
        <source>通讯设置已打开，巡检已停止</source>
        <translation>Connection settings opened; polling stopped</translation>
    </message>
    <message>
        <source>线路中断：%1</source>
        <translation>Line lost: %1</translation>
    </message>
    <message>
        <source>正在巡检，第 %1 轮</source>
        <translation>Polling, cycle %1</translation>
    </message>
    <message>
        <source>等待</source>
        <translation>waiting</translation>
    </message>
    <message>
        <source>应答</source>
        <translation>answering</translation>
    </message>
    <message>
        <source>拒绝</source>
        <translation>refused</translation>
    </message>
    <message>
        <source>无应答</source>
        <translation>no answer</translation>
    </message>
    <message>
        <source>无应答（%1）</source>
        <translation>no answer (%1)</translation>
    </message>
    <message>
        <source>，每 %1 轮试一次</source>
        <translation>, tried once every %1 cycles</translation>
    </message>
</context>
<context>
    <name>md::ui::CAboutDlg</name>
    <message>
        <source>确认</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>VX5200智能电力监测仪演示软件       V2.0  </source>
        <translation>VX5200 power monitor demo       V2.0  </translation>
    </message>
    <message>
        <source>技术支持热线：000-0000-0000/0001</source>
        <translation>Support hotline: 000-0000-0000/0001</translation>
    </message>
    <message>
        <source>版权所有 (C) 示例仪表有限公司</source>
        <translation>Copyright (C) Example Instruments Ltd.</translation>
    </message>
    <message>
        <source>传真：000-0000-0002</source>
        <translation>Fax: 000-0000-0002</translation>
    </message>
</context>
<context>
    <name>md::ui::CCommSetDlg</name>
    <message>
        <source>确    定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>退    出</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>仪表地址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>无校验</source>
        <translation>No parity</translation>
    </message>
    <message>
        <source>奇校验</source>
        <translation>Odd parity</translation>
    </message>
    <message>
        <source>偶校验</source>
        <translation>Even parity</translation>
    </message>
    <message>
        <source>通讯设置</source>
        <translation>Connection settings</translation>
    </message>
    <message>
        <source>查找仪表...</source>
        <translation>Find meter...</translation>
    </message>
    <message>
        <source>串口设备</source>
        <translation>Serial device</translation>
    </message>
    <message>
        <source>串口设备 %1</source>
        <translation>Serial device %1</translation>
    </message>
</context>
<context>
    <name>md::ui::CDialog</name>
    <message>
        <source>请输入一个整数。</source>
        <translation>Please enter a whole number.</translation>
    </message>
    <message>
        <source>请输入一个不带负号的整数。</source>
        <translation>Please enter a whole number without a minus sign.</translation>
    </message>
    <message>
        <source>请输入一个介于 %1 和 %2 之间的整数。</source>
        <translation>Please enter a whole number from %1 to %2.</translation>
    </message>
</context>
<context>
    <name>md::ui::CFindMeterDlg</name>
    <message>
        <source>波特率和校验由网络转换器设定，只查找地址</source>
        <translation>The network converter sets the rate and parity: only the addresses are scanned</translation>
    </message>
    <message>
        <source>奇校验</source>
        <translation>Odd</translation>
    </message>
    <message>
        <source>偶校验</source>
        <translation>Even</translation>
    </message>
    <message>
        <source>无校验</source>
        <translation>None</translation>
    </message>
    <message>
        <source>%1bps</source>
        <translation>%1 bit/s</translation>
    </message>
    <message>
        <source>%1 分 %2 秒</source>
        <translation>%1 min %2 s</translation>
    </message>
    <message>
        <source>查找仪表</source>
        <translation>Find meter</translation>
    </message>
    <message>
        <source>设备：</source>
        <translation>Device:</translation>
    </message>
    <message>
        <source>设备</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>COM%1</source>
        <translation>COM%1</translation>
    </message>
    <message>
        <source>COM%1（%2）</source>
        <translation>COM%1 (%2)</translation>
    </message>
    <message>
        <source>进度</source>
        <translation>Progress</translation>
    </message>
    <message>
        <source>未开始</source>
        <translation>Not started</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>找到的仪表：</source>
        <translation>Meters found:</translation>
    </message>
    <message>
        <source>找到的仪表</source>
        <translation>Meters found</translation>
    </message>
    <message>
        <source>地址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>波特率</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>校验</source>
        <translation>Parity</translation>
    </message>
    <message>
        <source>响应时间</source>
        <translation>Response time</translation>
    </message>
    <message>
        <source>查找全部</source>
        <translation>Find all</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>使用</source>
        <translation>Use</translation>
    </message>
    <message>
        <source>%1 ms</source>
        <translation>%1 ms</translation>
    </message>
    <message>
        <source>正在确认</source>
        <translation>Confirming</translation>
    </message>
    <message>
        <source>正在查找</source>
        <translation>Scanning</translation>
    </message>
    <message>
        <source>%1：%2 %3 地址 %4，约剩 %5</source>
        <translation>%1: %2 %3, address %4, about %5 left</translation>
    </message>
    <message>
        <source>（线路有干扰）</source>
        <translation> (noisy line)</translation>
    </message>
    <message>
        <source>%1 ms（%2/%3 次应答）</source>
        <translation>%1 ms (%2 of %3 reads answered)</translation>
    </message>
    <message>
        <source>已停止，找到 %1 台仪表</source>
        <translation>Stopped, %1 meter(s) found</translation>
    </message>
    <message>
        <source>查找结束，找到 %1 台仪表</source>
        <translation>Scan finished, %1 meter(s) found</translation>
    </message>
    <message>
        <source>全部使用</source>
        <translation>Use all</translation>
    </message>
    <message>
        <source>找到的仪表波特率或校验不同，波特率和校验未改变</source>
        <translation>The meters found differ in rate or parity; the rate and parity stay as they were</translation>
    </message>
</context>
<context>
    <name>md::ui::CMeterDebugDlg</name>
    <message>
        <source>改变波特率未发送：经网络转换器连接时，波特率和校验由转换器设定。仪表换了波特率，转换器不会跟着换，仪表就再也连不上了。</source>
        <translation>Rate change not sent: through a network converter the converter sets the rate and parity. The meter would change its rate, the converter would not follow, and the meter could no longer be reached.</translation>
    </message>
    <message>
        <source>网关：到仪表的路径不可用 (0x0A)</source>
        <translation>gateway: no path to the meter (0x0A)</translation>
    </message>
    <message>
        <source>网关：仪表没有响应 (0x0B)</source>
        <translation>gateway: the meter did not respond (0x0B)</translation>
    </message>
    <message>
        <source>退  出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>通信参数信息</source>
        <translation>Connection</translation>
    </message>
    <message>
        <source>系统功能</source>
        <translation>Functions</translation>
    </message>
    <message>
        <source>读参数数据</source>
        <translation>Read parameters</translation>
    </message>
    <message>
        <source>读测量数据</source>
        <translation>Measure</translation>
    </message>
    <message>
        <source>停止运行</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>写参数数据</source>
        <translation>Write parameters</translation>
    </message>
    <message>
        <source>通讯设置</source>
        <translation>Connection...</translation>
    </message>
    <message>
        <source>读开关量状态</source>
        <translation>Read I/O</translation>
    </message>
    <message>
        <source>测量数据</source>
        <translation>Measurements</translation>
    </message>
    <message>
        <source>A相电流</source>
        <translation>Ia</translation>
    </message>
    <message>
        <source>B相电流</source>
        <translation>Ib</translation>
    </message>
    <message>
        <source>C相电流</source>
        <translation>Ic</translation>
    </message>
    <message>
        <source>通讯统计</source>
        <translation>Statistics</translation>
    </message>
    <message>
        <source>成功次数</source>
        <translation>Successes</translation>
    </message>
    <message>
        <source>失败次数</source>
        <translation>Failures</translation>
    </message>
    <message>
        <source>误码率</source>
        <translation>Error rate</translation>
    </message>
    <message>
        <source>参数数据区</source>
        <translation>Parameters</translation>
    </message>
    <message>
        <source>上限阀值</source>
        <translation>High limit</translation>
    </message>
    <message>
        <source>下限阀值</source>
        <translation>Low limit</translation>
    </message>
    <message>
        <source>波特率</source>
        <translation>Baud</translation>
    </message>
    <message>
        <source>小数点</source>
        <translation>Decimals</translation>
    </message>
    <message>
        <source>继电器输出</source>
        <translation>Relay output</translation>
    </message>
    <message>
        <source>开关量输入</source>
        <translation>Switch input</translation>
    </message>
    <message>
        <source>地址信息</source>
        <translation>Meter address</translation>
    </message>
    <message>
        <source>本机地址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>修改地址</source>
        <translation>Set address</translation>
    </message>
    <message>
        <source>提示信息</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>仪表设置</source>
        <translation>Meter setup...</translation>
    </message>
    <message>
        <source>技术支持</source>
        <translation>About...</translation>
    </message>
    <message>
        <source>读仪表时间</source>
        <translation>Read meter time</translation>
    </message>
    <message>
        <source>开始保存数据</source>
        <translation>Start logging...</translation>
    </message>
    <message>
        <source>相电流分析</source>
        <translation>Current analysis</translation>
    </message>
    <message>
        <source>VX5200调试-Korvanta</source>
        <translation>VX5200 Test - Korvanta</translation>
    </message>
    <message>
        <source>&amp;系统功能</source>
        <translation>&amp;Functions</translation>
    </message>
    <message>
        <source>读基本数据</source>
        <translation>Read parameters</translation>
    </message>
    <message>
        <source>写数据</source>
        <translation>Write parameters</translation>
    </message>
    <message>
        <source>&amp;帮助</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>仪表地址: %1 </source>
        <translation>Address: %1 </translation>
    </message>
    <message>
        <source>串口:     %1 </source>
        <translation>Port:    %1 </translation>
    </message>
    <message>
        <source>波特率:  %1 </source>
        <translation>Baud:    %1 </translation>
    </message>
    <message>
        <source>校验位: 无校验</source>
        <translation>Parity: none</translation>
    </message>
    <message>
        <source>校验位:  无校验</source>
        <translation>Parity:  none</translation>
    </message>
    <message>
        <source>校验位:  奇校验</source>
        <translation>Parity:  odd</translation>
    </message>
    <message>
        <source>校验位:  偶校验</source>
        <translation>Parity:  even</translation>
    </message>
    <message>
        <source>串口已断开，正在重新连接...</source>
        <translation>Serial port lost, reconnecting...</translation>
    </message>
    <message>
        <source>停止保存数据</source>
        <translation>Stop logging</translation>
    </message>
    <message>
        <source>已读参数数据...</source>
        <translation>Parameters read.</translation>
    </message>
    <message>
        <source>读参数数据不成功...</source>
        <translation>Reading parameters failed.</translation>
    </message>
    <message>
        <source>未收到本地回送</source>
        <translation>no local echo received</translation>
    </message>
    <message>
        <source>写参数数据...</source>
        <translation>Parameter write finished.</translation>
    </message>
    <message>
        <source>修改地址信息...</source>
        <translation>Address change finished.</translation>
    </message>
    <message>
        <source>正在读测量数据...</source>
        <translation>Reading measurements...</translation>
    </message>
    <message>
        <source>已停止读测量数据...</source>
        <translation>Measuring stopped.</translation>
    </message>
    <message>
        <source>仪表功能</source>
        <translation>&amp;Meter</translation>
    </message>
    <message>
        <source>缺少GBK编码器，无法保存数据：记录中的中文无法写入文件</source>
        <translation>No GBK encoder: the log&apos;s Chinese text cannot be written, so logging is off</translation>
    </message>
    <message>
        <source>存储时间间隔应在1秒到596时31分23秒之间</source>
        <translation>The logging interval must lie between 1 s and 596 h 31 min 23 s</translation>
    </message>
    <message>
        <source>文件打开不成功</source>
        <translation>Cannot open the file</translation>
    </message>
    <message>
        <source>写文件不成功</source>
        <translation>Write to file failed</translation>
    </message>
    <message>
        <source>写数据成功！</source>
        <translation>Write succeeded!</translation>
    </message>
    <message>
        <source>写数据不成功</source>
        <translation>Write failed</translation>
    </message>
    <message>
        <source>写本机地址成功！</source>
        <translation>Address written!</translation>
    </message>
    <message>
        <source>写本机地址不成功</source>
        <translation>Write address failed</translation>
    </message>
    <message>
        <source>通</source>
        <translation>On</translation>
    </message>
    <message>
        <source>断</source>
        <translation>Off</translation>
    </message>
    <message>
        <source>合</source>
        <translation>Closed</translation>
    </message>
    <message>
        <source>分</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>设置PT不成功</source>
        <translation>Set PT failed</translation>
    </message>
    <message>
        <source>设置CT不成功</source>
        <translation>Set CT failed</translation>
    </message>
    <message>
        <source>设置接线方式不成功</source>
        <translation>Set wiring failed</translation>
    </message>
    <message>
        <source>设置仪表参数成功</source>
        <translation>Meter settings written</translation>
    </message>
    <message>
        <source>改变波特率不成功</source>
        <translation>Change baud rate failed</translation>
    </message>
    <message>
        <source>读时间不成功</source>
        <translation>Read time failed</translation>
    </message>
    <message>
        <source>当前时间:  %1年%2月%3日 %4时%5分%6秒</source>
        <translation>Meter time: %1-%2-%3 %4:%5:%6</translation>
    </message>
    <message>
        <source>查看</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>通讯监视</source>
        <translation>Traffic monitor</translation>
    </message>
    <message>
        <source>电流曲线</source>
        <translation>Current chart</translation>
    </message>
    <message>
        <source>多表巡检开始，已停止读测量数据...</source>
        <translation>Polling the bus; measuring stopped.</translation>
    </message>
    <message>
        <source>多表巡检</source>
        <translation>Meters on the bus</translation>
    </message>
</context>
<context>
    <name>md::ui::CMeterSetDlg</name>
    <message>
        <source>设置</source>
        <translation>Set</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>ＰＴ</source>
        <translation>PT</translation>
    </message>
    <message>
        <source>ＣＴ</source>
        <translation>CT</translation>
    </message>
    <message>
        <source>3相4线(非平衡)</source>
        <translation>3P4W unbal.</translation>
    </message>
    <message>
        <source>单相2线</source>
        <translation>1P2W</translation>
    </message>
    <message>
        <source>3相3线(非平衡)</source>
        <translation>3P3W unbal.</translation>
    </message>
    <message>
        <source>3相3线(平衡)</source>
        <translation>3P3W bal.</translation>
    </message>
    <message>
        <source>单相3线</source>
        <translation>1P3W</translation>
    </message>
    <message>
        <source>3相4线(平衡)</source>
        <translation>3P4W bal.</translation>
    </message>
</context>
<context>
    <name>md::ui::CSaveIntervalDlg</name>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>请输入存储时间间隔：</source>
        <translation>Logging interval:</translation>
    </message>
    <message>
        <source>时</source>
        <translation>h</translation>
    </message>
    <message>
        <source>秒</source>
        <translation>s</translation>
    </message>
    <message>
        <source>分</source>
        <translation>min</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>md::ui::ChartWindow</name>
    <message>
        <source>A相电流</source>
        <translation>Phase A current</translation>
    </message>
    <message>
        <source>B相电流</source>
        <translation>Phase B current</translation>
    </message>
    <message>
        <source>C相电流</source>
        <translation>Phase C current</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>电流曲线</source>
        <translation>Current chart</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>电流</source>
        <translation>Current</translation>
    </message>
    <message>
        <source>电流曲线图</source>
        <translation>Current chart</translation>
    </message>
    <message>
        <source>时间范围:</source>
        <translation>Time range:</translation>
    </message>
    <message>
        <source>1 分钟</source>
        <translation>1 min</translation>
    </message>
    <message>
        <source>10 分钟</source>
        <translation>10 min</translation>
    </message>
    <message>
        <source>1 小时</source>
        <translation>1 hour</translation>
    </message>
    <message>
        <source>全部</source>
        <translation>All</translation>
    </message>
    <message>
        <source>时间范围</source>
        <translation>Time range</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>保存图片...</source>
        <translation>Save image...</translation>
    </message>
    <message>
        <source>导出CSV...</source>
        <translation>Export CSV...</translation>
    </message>
    <message>
        <source>光标处的值</source>
        <translation>Values at the cursor</translation>
    </message>
    <message>
        <source>%1  A相 %2  B相 %3  C相 %4</source>
        <translation>%1  A %2  B %3  C %4</translation>
    </message>
    <message>
        <source>保存图片</source>
        <translation>Save image</translation>
    </message>
    <message>
        <source>PNG 图片 (*.png)</source>
        <translation>PNG images (*.png)</translation>
    </message>
    <message>
        <source>导出CSV</source>
        <translation>Export CSV</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>电流曲线 - 地址 %1</source>
        <translation>Current chart - address %1</translation>
    </message>
</context>
<context>
    <name>md::ui::MonitorModel</name>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>方向</source>
        <translation>Direction</translation>
    </message>
    <message>
        <source>字节</source>
        <translation>Bytes</translation>
    </message>
    <message>
        <source>含义</source>
        <translation>Meaning</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>响应(ms)</source>
        <translation>Response (ms)</translation>
    </message>
</context>
<context>
    <name>md::ui::MonitorWindow</name>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>通讯监视</source>
        <translation>Traffic monitor</translation>
    </message>
    <message>
        <source>通讯记录</source>
        <translation>Traffic</translation>
    </message>
    <message>
        <source>复制</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>保存...</source>
        <translation>Save...</translation>
    </message>
    <message>
        <source>暂停期间到达的最早 %1 行已丢弃</source>
        <translation>Dropped the %1 oldest rows that arrived while paused</translation>
    </message>
    <message>
        <source>保存通讯记录</source>
        <translation>Save traffic</translation>
    </message>
    <message>
        <source>文本文件 (*.txt)</source>
        <translation>Text files (*.txt)</translation>
    </message>
</context>
<context>
    <name>DeviceNameText</name>
    <message>
        <source>设备“%1”无效：%2</source>
        <translation>device "%1" is invalid: %2</translation>
    </message>
    <message>
        <source>不认识的协议“%1”，可用 tcp://、rfc2217://、modbus-tcp://</source>
        <translation>unknown protocol "%1"; use tcp://, rfc2217:// or modbus-tcp://</translation>
    </message>
    <message>
        <source>只能写主机和端口</source>
        <translation>only a host and a port may follow</translation>
    </message>
    <message>
        <source>IPv6 地址缺少“]”</source>
        <translation>the IPv6 address lacks its "]"</translation>
    </message>
    <message>
        <source>“%1”不是 IPv6 地址</source>
        <translation>"%1" is no IPv6 address</translation>
    </message>
    <message>
        <source>“]”后应是“:端口”</source>
        <translation>"]" must be followed by ":port"</translation>
    </message>
    <message>
        <source>IPv6 地址要写在方括号里，如 [::1]</source>
        <translation>an IPv6 address goes in brackets, such as [::1]</translation>
    </message>
    <message>
        <source>缺少主机</source>
        <translation>the host is missing</translation>
    </message>
    <message>
        <source>“%1”不是主机名或 IPv4 地址</source>
        <translation>"%1" is no host name or IPv4 address</translation>
    </message>
    <message>
        <source>“%1”不是网卡名或编号</source>
        <translation>"%1" is not an interface name or number</translation>
    </message>
    <message>
        <source>只有链路本地地址（fe80::/10）才带网卡</source>
        <translation>only a link-local address (fe80::/10) takes an interface</translation>
    </message>
    <message>
        <source>链路本地地址要写明网卡，如 [fe80::1%25eth0]</source>
        <translation>a link-local address needs its interface, as in [fe80::1%25eth0]</translation>
    </message>
    <message>
        <source>缺少端口</source>
        <translation>the port is missing</translation>
    </message>
    <message>
        <source>端口应是 1 到 65535 的数</source>
        <translation>the port must be a number from 1 to 65535</translation>
    </message>
    <message>
        <source>%1 是 Modbus TCP 设备，没有线路回显：--local-echo 不适用，已关闭</source>
        <translation>%1 is a Modbus TCP device and has no line echo: --local-echo does not apply and is off</translation>
    </message>
</context>
<context>
    <name>NetPort</name>
    <message>
        <source>连接被拒绝（%1）</source>
        <translation>connection refused (%1)</translation>
    </message>
    <message>
        <source>找不到主机（%1）</source>
        <translation>host not found (%1)</translation>
    </message>
    <message>
        <source>对方关闭了连接</source>
        <translation>the peer closed the connection</translation>
    </message>
    <message>
        <source>连接超时（%1）</source>
        <translation>connection timed out (%1)</translation>
    </message>
    <message>
        <source>%1 秒内没有连上</source>
        <translation>not connected within %1 s</translation>
    </message>
    <message>
        <source>服务器不支持 RFC 2217 串口控制</source>
        <translation>the server does not support RFC 2217 port control</translation>
    </message>
    <message>
        <source>服务器在 %1 秒内没有同意 RFC 2217 串口控制</source>
        <translation>the server did not agree to RFC 2217 port control within %1 s</translation>
    </message>
    <message>
        <source>服务器拒绝二进制传输，帧的字节可能被改动</source>
        <translation>the server refuses binary transmission, so bytes of a frame may be changed</translation>
    </message>
    <message>
        <source>服务器在 %1 秒内没有确认设置“%2”</source>
        <translation>the server did not confirm the settings "%2" within %1 s</translation>
    </message>
    <message>
        <source>服务器不接受设置“%1”</source>
        <translation>the server does not accept the settings "%1"</translation>
    </message>
    <message>
        <source>发送失败（%1）</source>
        <translation>send failed (%1)</translation>
    </message>
</context>
<context>
    <name>PortsAndNetDevices</name>
    <message>
        <source>网络设备（Modbus TCP）</source>
        <translation>network device (Modbus TCP)</translation>
    </message>
    <message>
        <source>网络设备（RFC 2217）</source>
        <translation>network device (RFC 2217)</translation>
    </message>
    <message>
        <source>网络设备（RTU over TCP）</source>
        <translation>network device (RTU over TCP)</translation>
    </message>
</context>
</TS>
